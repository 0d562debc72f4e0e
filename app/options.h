#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "app/preferences.h"
#include "core/failure.h"
#include "core/units.h"
#include "scan/value_boxes.h"
#include "sim/adapter_profile.h"
#include "sim/vehicle.h"

namespace tarvex {

// What the program was asked to do.
enum class Mode {
  kWindows,       // the main window (and a replay, with --replay)
  kLog,           // --log without a window
  kCodes,         // --codes
  kVin,           // --vin
  kClearCodes,    // --clear-codes
  kMonitorTests,  // --monitor-tests
  kReport,        // --report FILE
  kHelp,
  kVersion,
  kListPorts,
};

// The command line as one checked value: every combination that makes no sense
// is refused while parsing, so no runner meets one.
struct Options {
  Mode mode = Mode::kWindows;
  QString help;  // the text of --help, for a refusal too

  // The adapter: the device (or tcp:// address) and its speed as given, or the
  // built-in simulated car and adapter.
  std::optional<QString> port;
  std::optional<qint32> baud;
  bool demo = false;
  sim::Car car = sim::Car::GmVpw;
  sim::AdapterProfile adapter;  // with --demo

  std::optional<QString> replay;

  QString logPath;
  std::optional<qint64> rounds;
  std::vector<Box> boxes;       // --params: the parameters to scan; empty: the window's first selection
  bool standard = false;        // --standard: the log is Standard data's, of any car
  std::optional<QString> pids;  // --pids: the names as given (the own parameters are known at the run)

  // Kept for later runs too (see Preferences).
  std::optional<UnitChoice> units;               // --units
  std::optional<ImportedParameters> parameters;  // --parameters FILE, read

  bool yes = false;  // --clear-codes without asking

  QString reportPath;  // --report: HTML, or PDF when it ends in .pdf
};

// Reads the arguments (the program's name first). A refusal is a kInvalid
// failure whose reason is the sentence to print; the program then exits 2.
Result<Options> parseOptions(const QStringList& arguments);

}  // namespace tarvex
