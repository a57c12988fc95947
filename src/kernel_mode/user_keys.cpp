#include "kernel_mode/user_keys.h"

UserKeys KeysForUser(uid_t uid) {
  constexpr uint32_t kMarkPrefix = 0x6d760000;       // "mv"
  constexpr uint32_t kRelayMarkPrefix = 0x6d770000;  // "mw"
  UserKeys keys;
  keys.uid = uid;
  keys.mark = kMarkPrefix | (uid & 0xffff);
  keys.relay_mark = kRelayMarkPrefix | (uid & 0xffff);
  keys.name = "u" + std::to_string(uid);
  return keys;
}
