#include "obd/readiness.h"

#include <array>

#include "obd/formulas.h"

namespace tarvex::obd {
namespace {

using namespace std::string_view_literals;

constexpr std::array<std::string_view, 3> kContinuous{"misfire"sv, "fuel system"sv,
                                                      "comprehensive components"sv};
// Bits 0-7 of bytes C (supported) and D (not complete); empty: reserved.
constexpr std::array<std::string_view, 8> kSpark{
    "catalyst"sv,        "heated catalyst"sv, "evaporative system"sv,   "secondary air system"sv,
    "A/C refrigerant"sv, "oxygen sensor"sv,   "oxygen sensor heater"sv, "EGR and/or VVT system"sv};
constexpr std::array<std::string_view, 8> kCompression{
    "NMHC catalyst"sv, "NOx/SCR aftertreatment"sv, ""sv, "boost pressure"sv, ""sv, "exhaust gas sensor"sv,
    "PM filter"sv,     "EGR and/or VVT system"sv};

}  // namespace

std::optional<Readiness> readReadiness(Bytes abcd) {
  if (abcd.size() < 4) return std::nullopt;
  const std::uint8_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];
  const LampAndCount lamp = lampAndCount(a);
  Readiness r{lamp.milOn, lamp.storedCodes, (b & 0x08) ? Ignition::kCompression : Ignition::kSpark, {}};
  // Byte B: bits 0-2 supported, bits 4-6 not complete, for the continuous three.
  for (int i = 0; i < 3; ++i)
    r.monitors.push_back({kContinuous[static_cast<std::size_t>(i)], (b & (1 << i)) != 0, !(b & (0x10 << i))});
  const auto& names = r.ignition == Ignition::kSpark ? kSpark : kCompression;
  for (int i = 0; i < 8; ++i) {
    const auto name = names[static_cast<std::size_t>(i)];
    if (!name.empty()) r.monitors.push_back({name, (c & (1 << i)) != 0, !(d & (1 << i))});
  }
  return r;
}

}  // namespace tarvex::obd
