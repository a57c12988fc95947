#include "report/client_id.h"

#include <cstdio>

std::string FormatClientId(const std::vector<HardwareAddress>& adapters) {
  for (const HardwareAddress& a : adapters) {
    if (a == HardwareAddress{}) continue;
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", a[5], a[4], a[3], a[2], a[1],
                  a[0]);
    return text;
  }
  return {};
}

std::string ReadMachineClientId() {
  return FormatClientId(ListIpv4AdapterHardwareAddresses());
}
