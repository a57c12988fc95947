// Message maps: each window class holds one static table from message number to handler, chained
// to its base class's table. Dispatch walks the chain from the most derived class; the first
// entry for the message wins; a message no table holds goes to the default handling.
#pragma once

#include <span>

#include "base/win_types.h"

class TopLevelWindow;

struct MessageMapEntry {
  UINT message;
  LRESULT (*handler)(TopLevelWindow& self, WPARAM wparam, LPARAM lparam);
};

struct MessageMap {
  const MessageMap* base;
  std::span<const MessageMapEntry> entries;
};

// Adapts a member function `LRESULT T::Handler(WPARAM, LPARAM)` to a table entry.
template <typename T, LRESULT (T::*Handler)(WPARAM, LPARAM)>
LRESULT MessageThunk(TopLevelWindow& self, WPARAM wparam, LPARAM lparam) {
  return (static_cast<T&>(self).*Handler)(wparam, lparam);
}

#define DECLARE_MESSAGE_MAP()                        \
 public:                                             \
  static const MessageMap kMessageMap;               \
  const MessageMap* GetMessageMap() const override { \
    return &kMessageMap;                             \
  }

#define ON_MESSAGE(cls, message, handler)      \
  MessageMapEntry {                            \
    message, &MessageThunk<cls, &cls::handler> \
  }
