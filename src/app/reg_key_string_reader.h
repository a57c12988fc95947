// Reads the report set-up's registry values through the registry key class.
#pragma once

#include "report/report_setup.h"

class RegKeyStringReader : public RegistryStringReader {
 public:
  [[nodiscard]] Text ReadString(const Text& keyPath, const Text& valueName) override;
};
