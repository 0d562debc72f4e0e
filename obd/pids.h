#pragma once

#include <QString>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "obd/answer.h"

namespace tarvex::obd {

// One number of a parameter with its unit; a wide-band oxygen sensor, for
// one, gives two (lambda and voltage).
struct Reading {
  double value;
  std::string_view unit;
};

// A decoded parameter: its numbers, or a state told in words, or both.
struct Value {
  std::vector<Reading> readings;
  QString text;
};

using Bytes = std::span<const std::uint8_t>;
// Gets exactly the row's byte count. Nothing: the bytes cannot be a value.
using Decoder = std::optional<Value> (*)(Bytes);

// A service 01 parameter: what to ask, how to name it, how to read it.
struct Pid {
  std::uint8_t pid;
  std::string_view name;
  std::string_view column;  // short, for a table heading or a log column
  std::string_view unit;    // of the first reading; empty for words
  int bytes;
  Decoder decode;
};

// Every service 01 parameter this program knows, by ascending PID.
std::span<const Pid> service01();
const Pid* findPid(int pid);

// How often a parameter is worth asking while the car is driven: what the
// driver changes (engine and road speed, throttle, load, air flow, timing)
// every round; temperatures, levels, pressures, voltages every few rounds;
// what does not change in a drive (monitor status, the OBD standard, the fuel
// type, which sensors there are) once, and again when asked.
enum class Pace { kFast, kSlow, kOnce };
Pace paceOf(int pid);

// A fuel system's state by its bit (PID 03, and the GM enhanced parameter of
// the same number) as the GM scan names it ("Closed Loop"); empty for a byte
// that is no single known state.
QString fuelSystemName(int state);

// The value of a parameter from its data bytes (after "41 PID"). Nothing for
// an unknown PID or fewer bytes than it has; bytes beyond its count are not
// read.
std::optional<Value> decodePid(int pid, Bytes data);

// The parameters a car supports, from its answers to 0100, 0120, 0140 ...
class SupportedPids {
 public:
  static bool isBitmap(int pid) { return pid % 0x20 == 0; }
  // Takes every controller's answer to "01 base" (base 0x00, 0x20, ... 0xE0).
  // True when one of them supports the next range: ask "01 base+0x20" next.
  bool add(int base, const std::vector<Message>& answers);
  bool has(int pid) const { return pid > 0 && pid < 256 && bits_.test(static_cast<std::size_t>(pid)); }
  // Supported parameters in ascending order, without the bitmaps.
  std::vector<int> parameters() const;

 private:
  std::bitset<256> bits_;
};

// A request for service 01 with these PIDs: "010C0D05".
QString requestText(std::span<const int> pids);
// The PIDs in requests of at most `most` each (CAN allows six), in order.
std::vector<std::vector<int>> splitRequests(std::span<const int> pids, int most = 6);

struct PidAnswer {
  QString source;
  int pid;
  std::vector<std::uint8_t> data;
};

struct MultiAnswer {
  std::vector<PidAnswer> answers;  // in the order they came
  // Asked PIDs no controller answered: ask each of these alone.
  std::vector<int> missing;
  // An answer stopped inside a parameter, or named one that was not asked or
  // is not known (so its length is not either): what followed was lost.
  bool cut = false;
};

// Reads the answers to a request for several PIDs ("41 0C 1A F8 0D 3C ...").
MultiAnswer parseMulti(std::span<const int> asked, const std::vector<Message>& answers);

// One parameter of a freeze frame, from a service 02 answer
// ("42 PID frame data...").
struct FrozenValue {
  int pid;
  int frame;
  Value value;
};
std::optional<FrozenValue> freezeFrameValue(Bytes message);

}  // namespace tarvex::obd
