// morvil-ping: sends one ICMP echo request for a user who may not open an ICMP socket, and prints
// the outcome as one line. The package grants this program (and nothing else of morvil)
// cap_net_raw; it opens its socket, gives up every capability, then sends and waits.
//
//   morvil-ping ADDRESS TIMEOUT_MS HEXDATA      (as made by IcmpHelperArguments)
//
// Exit code 0 with the reply line on standard output; 2 for arguments not exactly of that form.
// Anyone may start it, so it takes nothing from its environment and checks every argument.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/icmp_helper_protocol.h"

namespace {

// Drops every capability (effective, permitted, inheritable) for the rest of the run.
bool DropCapabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::optional<IcmpHelperRequest> request = ParseIcmpHelperArguments(arguments);
  if (!request) {
    std::fputs("usage: morvil-ping ADDRESS TIMEOUT_MS HEXDATA\n", stderr);
    return 2;
  }
  IcmpEchoReply reply{kIcmpGeneralFailure, 0};
  Result<IcmpEchoSocket> socket = IcmpEchoSocket::Open();
  bool dropped = DropCapabilities();
  if (!socket) {
    int error = socket.error().code;
    reply.status = error == EPERM || error == EACCES ? kIcmpAccessDenied : kIcmpGeneralFailure;
  } else if (dropped) {
    reply = socket->Echo(request->address, request->data, request->timeout_ms);
  }
  std::string line = FormatIcmpHelperReply(reply);
  return std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}
