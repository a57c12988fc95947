// A small line chart of the last latency results.
function LatencyChart(canvas, capacity) {
  this.canvas = canvas;
  this.capacity = capacity;
  this.samples = [];
}

LatencyChart.prototype.add = function (ms) {
  this.samples.push(ms);
  if (this.samples.length > this.capacity) this.samples.shift();
  this.draw();
};

LatencyChart.prototype.draw = function () {
  var c = this.canvas;
  // Draw at the size the layout gives the canvas, so that the lines are sharp and stay inside.
  if (c.width !== c.clientWidth || c.height !== c.clientHeight) {
    c.width = c.clientWidth;
    c.height = c.clientHeight;
  }
  var g = c.getContext('2d'), w = c.width, h = c.height;
  g.clearRect(0, 0, w, h);
  g.strokeStyle = '#2e3a4d';
  g.lineWidth = 1;
  g.beginPath(); g.moveTo(0, h - 0.5); g.lineTo(w, h - 0.5); g.stroke();
  var good = this.samples.filter(function (s) { return s >= 0; });
  if (!good.length) return;
  var max = Math.max(20, Math.max.apply(null, good) * 1.2);
  var step = w / (this.capacity - 1);
  g.strokeStyle = '#14b8a6';
  g.lineWidth = 2;
  g.beginPath();
  var started = false;
  for (var i = 0; i < this.samples.length; i++) {
    var s = this.samples[i];
    var x = (this.capacity - this.samples.length + i) * step;
    if (s < 0) { started = false; continue; }
    var y = h - 2 - (s / max) * (h - 6);
    if (started) g.lineTo(x, y); else { g.moveTo(x, y); started = true; }
  }
  g.stroke();
};
