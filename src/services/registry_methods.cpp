#include "services/registry_methods.h"

#include "services/base_reg_key.h"

Text RegReadString(const Text& path, const Text& name) {
  CBaseRegKey key;
  (void)key.Open(path);
  Text text;
  (void)key.QueryString(name, text);
  key.Close();
  return text;
}

int32_t RegReadInt(const Text& path, const Text& name) {
  CBaseRegKey key;
  (void)key.Open(path);
  DWORD value = 0;
  (void)key.QueryDword(name, value);
  key.Close();
  return static_cast<int32_t>(value);
}

bool RegWriteString(const Text& path, const Text& name, const Text& text) {
  CBaseRegKey key;
  (void)key.Open(path);
  int32_t status = key.WriteString(name, text);
  key.Close();
  return status != kRegKeyDone;
}

bool RegWriteInt(const Text& path, const Text& name, int32_t number) {
  CBaseRegKey key;
  (void)key.Open(path);
  int32_t status = key.WriteDword(name, static_cast<DWORD>(number));
  key.Close();
  return status != kRegKeyDone;
}
