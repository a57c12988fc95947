// The container selector of a page window: "#name" selects by id, ".name" by class attribute,
// anything else by tag name. The whole attribute must equal the name, letter case aside: an
// element whose class attribute lists two classes does not match one of them.
#pragma once

#include <vector>

#include "base/text.h"

struct ElementSelector {
  enum class Kind { kId, kClass, kTag };
  Kind kind = Kind::kTag;
  Text name;

  [[nodiscard]] static ElementSelector Parse(TextView selector);
  // The one-character kind code the page-side element walk understands: '#', '.' or 't'.
  [[nodiscard]] char16_t KindCode() const;
  [[nodiscard]] bool Matches(TextView attribute) const;
};

// Indices of the attributes (in document order) that match, in order.
[[nodiscard]] std::vector<size_t> MatchElements(const ElementSelector& selector,
                                                const std::vector<Text>& attributes);
