#include "report/install_date.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

std::string InstallDateOfFile(const std::string& path) {
  struct statx info {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
    return kUnknownInstallDate;
  time_t when = (info.stx_mask & STATX_BTIME) ? info.stx_btime.tv_sec : info.stx_mtime.tv_sec;
  struct tm local {};
  if (!localtime_r(&when, &local)) return kUnknownInstallDate;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

std::string ReadExecutableInstallDate() {
  return InstallDateOfFile("/proc/self/exe");
}
