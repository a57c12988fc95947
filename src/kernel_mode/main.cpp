// morvil-kernel: the kernel-mode network-stack component of one user, run as root by the
// installer (pellix.exe). See component.h.
//
//   morvil-kernel --uid UID --runtime-dir DIR --system-dir DIR    serve until SIGTERM
//   morvil-kernel --uid UID --system-dir DIR --clean-up           remove what a component of
//                                                                 UID left behind
// Exit status: 0 after a clean end, 1 when kernel mode cannot run here (the reason on standard
// error), 2 on bad usage.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/unique_fd.h"
#include "kernel_mode/component.h"

int main(int argc, char** argv) {
  ComponentOptions options;
  bool have_uid = false, clean_up = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--clean-up") {
      clean_up = true;
    } else if (i + 1 < argc && arg == "--uid") {
      char* end = nullptr;
      unsigned long uid = std::strtoul(argv[++i], &end, 10);
      have_uid = *end == '\0' && argv[i][0] != '\0' && uid < 0xffffffffUL;
      options.uid = static_cast<uid_t>(uid);
    } else if (i + 1 < argc && arg == "--runtime-dir") {
      options.runtime_dir = argv[++i];
    } else if (i + 1 < argc && arg == "--system-dir") {
      options.system_dir = argv[++i];
    } else {
      have_uid = false;
      break;
    }
  }
  // Serving needs the user's runtime directory: the acceleration pipe lies in it.
  if (!have_uid || options.system_dir.empty() || options.system_dir.is_relative() ||
      (!clean_up && options.runtime_dir.empty())) {
    std::fprintf(stderr,
                 "usage: morvil-kernel --uid UID --runtime-dir DIR --system-dir DIR "
                 "[--clean-up]\n");
    return 2;
  }
  if (clean_up) {
    Component::CleanUp(options.uid, options.system_dir);
    return 0;
  }
  sigset_t stop;
  sigemptyset(&stop);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, signal);
  // Blocked before any thread starts, so that every thread leaves them to the signalfd.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  UniqueFd stop_fd(::signalfd(-1, &stop, SFD_CLOEXEC));
  if (!stop_fd) {
    // Without it the blocked signals could never stop the component.
    std::perror("morvil-kernel: signalfd");
    return 1;
  }
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  Result<std::unique_ptr<Component>> component = Component::Start(options);
  if (!component) {
    std::fprintf(stderr, "morvil-kernel: %s: %s\n", component.error().context.c_str(),
                 std::strerror(component.error().code));
    return 1;
  }
  // Running: the installer that started it stops reading its report at this end of file.
  if (UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC)); null) ::dup2(null.get(), 2);
  (*component)->Run(stop_fd.get());
  return 0;
}
