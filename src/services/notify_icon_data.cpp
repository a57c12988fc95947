#include "services/notify_icon_data.h"

Text CutToField(TextView text, size_t field_units) {
  if (field_units == 0) return Text();
  const size_t keep = field_units - 1;
  if (text.size() <= keep) return Text(text);
  size_t end = keep;
  if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
  return Text(text.substr(0, end));
}
