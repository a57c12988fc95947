// The client id: the first IPv4 adapter's hardware address that is not all zero, as twelve
// upper-case hex digits in reverse byte order (00-1A-2B-3C-4D-5E gives "5E4D3C2B1A00"); empty
// when no adapter qualifies.
#pragma once

#include <string>
#include <vector>

#include "platform/adapter_addresses.h"

[[nodiscard]] std::string FormatClientId(const std::vector<HardwareAddress>& adapters);
// FormatClientId over this machine's adapters.
[[nodiscard]] std::string ReadMachineClientId();
