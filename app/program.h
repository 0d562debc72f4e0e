#pragma once

#include <QEventLoop>
#include <QSettings>
#include <QSocketNotifier>
#include <QString>
#include <QTextStream>
#include <functional>
#include <memory>

#include "app/options.h"
#include "core/clock.h"
#include "link/remembered_line.h"
#include "link/serial_port.h"
#include "sim/sim_adapter.h"
#include "sim/vehicle.h"

namespace tarvex {

// The adapter every runner talks to: the built-in simulated car and adapter
// (--demo, --car, --adapter), or the device the options name (or the one that
// last answered). The same for the windows, the log and the commands.
struct Adapter {
  std::unique_ptr<sim::Vehicle> vehicle;
  std::unique_ptr<sim::SimAdapter> simulated;
  std::unique_ptr<PortFactory> ports;
};
// A device that cannot be used as chosen is refused (kInvalid, the reason).
Result<Adapter> makeAdapter(const Options& options, Clock& clock, RememberedLine& remembered);

// One line per serial device, for a user looking for the adapter.
void listPorts();

// SIGTERM, SIGINT and SIGHUP end a run the way closing its windows does: the
// port is closed and the log ends on a whole line. A file-size limit's SIGXFSZ
// is ignored, so that a write past it fails instead of ending the program in
// the middle of a line. The handler only writes to a pipe; the event loop
// reads it and calls `onQuit`. Nothing when the signals cannot be caught.
std::unique_ptr<QSocketNotifier> onQuitSignal(std::function<void()> onQuit);
void ignoreFileSizeSignal();

// What a run without windows prints: on a terminal, one line of progress
// rewritten in place, cut to the terminal's width; errors on lines of their own.
class Console {
 public:
  Console();
  bool terminal() const { return terminal_; }
  void error(const QString& line);
  void progress(const QString& text);  // an empty text ends the line

 private:
  void endLine();
  bool terminal_;
  bool open_ = false;
};

// What the runs that read the car and end share (--codes, --vin,
// --clear-codes, --monitor-tests, --report), made after the application
// object: the settings, the adapter and the command line's port on it, the
// units chosen (or kept from before) and the standard streams. A line speed
// found on a first run is told on the error stream; the output stays the
// run's own.
struct CarCommand {
  explicit CarCommand(const Options& options);
  // The adapter refused: said on the error stream; the exit status is 2.
  bool refused();
  // Runs until `run` finishes or a quit signal comes; its exit status.
  template <class Run>
  int exec(Run& run, const std::function<void()>& start) {
    QEventLoop loop;
    run.setFinished([&loop](int) { loop.quit(); });
    const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([&loop] { loop.quit(); });
    start();
    if (!run.status()) loop.exec();
    return run.status().value_or(1);
  }
  PortFactory& ports() { return *adapter.value().ports; }

  QSettings settings;
  RememberedLine remembered{settings};
  SystemClock clock;
  QTextStream out{stdout}, err{stderr};
  Result<Adapter> adapter;
  std::unique_ptr<SerialPort> port;
  UnitChoice units;
};

// The runners, one a mode; each returns the exit status.
int runWindows(int& argc, char** argv, const Options& options);
int runLog(int& argc, char** argv, const Options& options);
int runCodes(int& argc, char** argv, const Options& options);
int runMonitorTests(int& argc, char** argv, const Options& options);
int runReport(int& argc, char** argv, const Options& options);

}  // namespace tarvex
