// A small `$`: a CSS selector gives an object whose css(name, value) and text(value) act on every
// match, the calling convention the program uses to adjust split-window frame pages.
(function () {
  function Matches(selector) {
    this.elements = Array.prototype.slice.call(document.querySelectorAll(selector));
  }
  Matches.prototype.css = function (name, value) {
    this.elements.forEach(function (e) { e.style.setProperty(name, value); });
    return this;
  };
  Matches.prototype.text = function (value) {
    this.elements.forEach(function (e) { e.textContent = value; });
    return this;
  };
  window.$ = function (selector) { return new Matches(selector); };
})();
