#include "html/element_selector.h"

#include "base/compare.h"

ElementSelector ElementSelector::Parse(TextView selector) {
  if (!selector.empty() && selector[0] == u'#') return {Kind::kId, Text(selector.substr(1))};
  if (!selector.empty() && selector[0] == u'.') return {Kind::kClass, Text(selector.substr(1))};
  return {Kind::kTag, Text(selector)};
}

char16_t ElementSelector::KindCode() const {
  switch (kind) {
    case Kind::kId:
      return u'#';
    case Kind::kClass:
      return u'.';
    default:
      return u't';
  }
}

bool ElementSelector::Matches(TextView attribute) const {
  return CompareNoCase(attribute, name) == 0;
}

std::vector<size_t> MatchElements(const ElementSelector& selector,
                                  const std::vector<Text>& attributes) {
  std::vector<size_t> matches;
  for (size_t i = 0; i < attributes.size(); ++i)
    if (selector.Matches(attributes[i])) matches.push_back(i);
  return matches;
}
