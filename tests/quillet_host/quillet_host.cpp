// A program of its own that loads the report library the way the product's other programs do,
// for the tests that check the library leaves its host alone. Usage: quillet-host LIBRARY URL.
//
// It notes its threads and signal dispositions, loads the library, reports an event to URL and
// prints "reported"; then it waits for a line on standard input (the test changes the world
// meanwhile, e.g. ends the session bus), reports again, unloads the library and prints what it
// finds changed: "still mapped" for each mapping of the library left, "threads N" (threads beyond
// the ones it had before loading) and "signals S..." (signal numbers whose disposition differs),
// then "done". It exits 0 if it lives that long.
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

std::vector<struct sigaction> Dispositions() {
  std::vector<struct sigaction> all(NSIG);
  for (int s = 1; s < NSIG; ++s) sigaction(s, nullptr, &all[s]);
  return all;
}

template <typename F>
F Find(void* library, const char* name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quillet-host LIBRARY URL\n");
    return 2;
  }
  const int threads_before = ThreadCount();
  const std::vector<struct sigaction> before = Dispositions();

  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  auto init = Find<void (*)(const char*, const char*, const char*, const char*, int)>(library,
                                                                                      "InitReport");
  auto report = Find<void (*)(const char*, const char*)>(library, "StartReport");
  auto wait = Find<void (*)()>(library, "ReportWait");
  if (!init || !report || !wait) return 2;
  init("1.0", "0", "UA-1", argv[2], 0);
  report("host", "first");
  wait();
  std::printf("reported\n");
  std::fflush(stdout);

  std::string line;
  std::getline(std::cin, line);
  report("host", "second");
  wait();
  if (dlclose(library) != 0) return 2;
  if (FILE* maps = std::fopen("/proc/self/maps", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, maps))
      if (std::strstr(line, "libQuillet")) std::printf("still mapped\n");
    std::fclose(maps);
  }

  std::printf("threads %d\n", ThreadCount() - threads_before);
  const std::vector<struct sigaction> after = Dispositions();
  std::printf("signals");
  for (int s = 1; s < NSIG; ++s) {
    if (before[s].sa_handler != after[s].sa_handler ||
        (before[s].sa_flags & SA_SIGINFO) != (after[s].sa_flags & SA_SIGINFO))
      std::printf(" %d", s);
  }
  std::printf("\ndone\n");
  return 0;
}
