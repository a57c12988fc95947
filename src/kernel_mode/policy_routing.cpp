#include "kernel_mode/policy_routing.h"

#include <string>

#include "kernel_mode/command.h"

namespace {

struct Family {
  const char* flag;
  const char* everything;
};
constexpr Family kFamilies[] = {{"-4", "0.0.0.0/0"}, {"-6", "::/0"}};

}  // namespace

Result<PolicyRouting> PolicyRouting::Install(const UserKeys& keys) {
  Remove(keys);
  PolicyRouting installed(keys);
  const std::string mark = std::to_string(keys.mark);
  for (const Family& family : kFamilies) {
    if (RunCommand({"ip", family.flag, "route", "add", "local", family.everything, "dev", "lo",
                    "table", mark}) != 0 ||
        RunCommand({"ip", family.flag, "rule", "add", "fwmark", mark, "lookup", mark}) != 0) {
      // A machine without IPv6 has no IPv6 traffic to catch either.
      if (family.flag[1] == '6') break;
      return Error{EIO, std::string("ip ") + family.flag + " rule/route for the relay"};
    }
  }
  return installed;
}

void PolicyRouting::Remove(const UserKeys& keys) {
  const std::string mark = std::to_string(keys.mark);
  for (const Family& family : kFamilies) {
    // A rule added twice is listed twice; delete until none is left (bounded).
    for (int i = 0; i < 16; ++i)
      if (RunCommand({"ip", family.flag, "rule", "del", "fwmark", mark, "lookup", mark}) != 0)
        break;
    (void)RunCommand({"ip", family.flag, "route", "flush", "table", mark});
  }
}
