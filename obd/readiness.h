#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "obd/pids.h"

namespace tarvex::obd {

enum class Ignition { kSpark, kCompression };

struct Monitor {
  std::string_view name;
  bool supported;
  bool complete;  // meaningful only when supported
};

// The answer to 0101: the lamp, the stored-code count and the readiness of
// each emissions monitor since the codes were last cleared.
struct Readiness {
  bool milOn;
  int storedCodes;
  Ignition ignition;
  // The three continuous monitors, then the others the ignition type has,
  // supported or not, in bit order.
  std::vector<Monitor> monitors;
};

// From the four data bytes after "41 01". Nothing for fewer.
std::optional<Readiness> readReadiness(Bytes abcd);

}  // namespace tarvex::obd
