#include "app/reg_key_string_reader.h"

#include "services/base_reg_key.h"

Text RegKeyStringReader::ReadString(const Text& keyPath, const Text& valueName) {
  CBaseRegKey key;
  key.Open(keyPath);
  Text value;
  if (key.QueryString(valueName, value) != 0) value.clear();
  key.Close();
  return value;
}
