#pragma once

#include <QString>
#include <QStringList>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "obd/answer.h"

// On-board test results (service 06): what each emissions monitor measured
// the last time it ran, with the limits it was judged against.
namespace tarvex::obd {

// How a test's 16-bit words become a value: value = word * factor + offset,
// the word read as two's complement for the signed IDs (0x81 and up).
struct Scaling {
  std::uint8_t id;
  double factor;
  double offset;
  std::string_view unit;  // the program's own unit strings; empty for a plain number
  std::string_view what;  // "voltage", "raw value" ...
};

// Every unit-and-scaling ID this program knows, by ascending ID.
std::span<const Scaling> scalings();
const Scaling* findScaling(int id);
// IDs 0x80 and up carry signed words; that follows from the ID alone.
inline bool isSignedScaling(int id) {
  return id >= 0x80;
}

struct ScaledValue {
  double value;
  std::string_view unit;
  // False for an ID not in the table: `value` is then the word itself
  // (signed for IDs 0x80 and up), with no unit.
  bool known;
};
ScaledValue scale(int scalingId, std::uint16_t word);

// "O2 sensor bank 1 sensor 2", "misfire cylinder 3", or "monitor 0xNN" for an
// ID the standard does not name.
QString monitorName(int mid);
// "rich to lean sensor threshold voltage", ..., "manufacturer test 0x81".
QString testName(int tid);

// One test of one monitor as a controller reported it (CAN form).
struct TestResult {
  QString source;  // the controller's address, empty with headers off
  int mid = 0;
  int tid = 0;
  int scalingId = 0;
  std::uint16_t rawValue = 0, rawMin = 0, rawMax = 0;
  ScaledValue value{}, min{}, max{};
  // Value, minimum and maximum all zero: the monitor has not run since the
  // codes were cleared, so there is no verdict.
  bool completed = false;
  // min <= value <= max, compared as the words are (signed or not), so no
  // scaling can change the verdict; never for a test not completed.
  bool passed = false;
};

struct MonitorAnswer {
  std::vector<TestResult> results;  // in the order they came
  // Some controller answered for this monitor. False after a refusal
  // (7F 06 ..) or NO DATA: the car does not support it.
  bool supported = false;
  // An answer stopped inside a record or went on with another monitor's
  // ID: what followed was lost.
  bool cut = false;
};

// Reads every controller's answer to "06 MID" on CAN: "46", then a record of
// nine bytes per test, each starting with the MID again.
MonitorAnswer readMonitor(int mid, const std::vector<Message>& messages);

// The monitors a car supports, from its answers to 0600, 0620, 0640 ...
class SupportedMonitors {
 public:
  static bool isBitmap(int mid) { return mid % 0x20 == 0; }
  // The bitmap to ask for next: 0x00 first, then the next range while some
  // controller's last bit says there is one; nothing once all are read.
  std::optional<int> nextBitmap() const { return next_; }
  // Takes every controller's answer to "06 base".
  void add(int base, const std::vector<Message>& answers);
  // Some controller answered a bitmap: the car has service 06 on CAN.
  bool answered() const { return answered_; }
  bool has(int mid) const { return mid > 0 && mid < 256 && bits_.test(static_cast<std::size_t>(mid)); }
  // Supported monitors in ascending order, without the bitmaps.
  std::vector<int> monitors() const;
  const std::vector<int>& bitmapsRead() const { return read_; }

 private:
  std::bitset<256> bits_;
  std::optional<int> next_ = 0;
  std::vector<int> read_;
  bool answered_ = false;
};

// "06A2".
QString monitorRequest(int mid);
// What a reader sends, in order: the bitmaps it read, then one request per
// supported monitor.
QStringList monitorRequests(const SupportedMonitors& supported);

// Misfire counts of one cylinder (monitors A2.. and tests 0B and 0C).
struct CylinderMisfires {
  int cylinder;
  std::optional<double> recent;   // averaged over the last ten driving cycles
  std::optional<double> current;  // this or the last completed driving cycle
};
struct ControllerMisfires {
  QString source;
  std::vector<CylinderMisfires> cylinders;  // ascending, those reported only
};
// Per controller, in the order they first appear.
std::vector<ControllerMisfires> misfireCounts(const std::vector<TestResult>& results);

// The older buses (J1850, ISO 9141-2, ISO 14230-4) answer "06 TID" with one
// message per component: "46 TID CID value limit". Scaling is the
// manufacturer's, so the words stay raw.
struct LegacyTestResult {
  QString source;
  int tid;
  int component;        // the CID without its top bit
  bool limitIsMinimum;  // the CID's top bit: the value must not fall below
  std::uint16_t value;
  std::uint16_t limit;
  bool passed;
};
struct LegacyTestAnswer {
  std::vector<LegacyTestResult> results;
  bool supported = false;  // as MonitorAnswer::supported
};
LegacyTestAnswer readLegacyTest(int tid, const std::vector<Message>& messages);

}  // namespace tarvex::obd
