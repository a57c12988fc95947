#include "html/page_events.h"

Text PageEventScript(int32_t code, int32_t value) {
  return u"UI.onUserMessage(" + ToText(static_cast<long long>(code)) + u", " +
         ToText(static_cast<long long>(value)) + u");";
}
