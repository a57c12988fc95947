#include "kernel_mode/user_keys.h"

UserKeys KeysForUser(uid_t uid) {
  constexpr uint32_t kMarkPrefix = 0x6d760000;  // "mv"
  UserKeys keys;
  keys.uid = uid;
  keys.mark = kMarkPrefix | (uid & 0xffff);
  keys.ct_base = (uid & 0xffff) << 16;
  keys.name = "u" + std::to_string(uid);
  return keys;
}
