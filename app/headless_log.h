#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/readings.h"
#include "core/units.h"
#include "link/serial_port.h"
#include "obd/user_parameters.h"
#include "scan/catalogue.h"
#include "scan/scan_cycle.h"
#include "scan/value_boxes.h"
#include "standard/standard_poller.h"

namespace tarvex {

// Which parameters a run asks for: the boxes to switch on, or why the names
// given cannot be used.
struct ParamChoice {
  std::vector<Box> boxes;  // empty: the selection the main window starts with
  QString error;           // set: refused, with the names there are
};
// Reads a comma-separated list of log column names ("RPM,Speed,MAF"), any
// letter case. An empty list is refused: it would scan nothing.
ParamChoice parseParams(const QString& list);

// The main window's value boxes in memory, as a fresh window shows them, with
// `chosen` (if any) as the only parameters asked for.
void setUpBoxes(MemoryBoxes& boxes, const std::vector<Box>& chosen);

// Which parameters a standard-data run logs (--pids): standard ones by their
// short names ("RPM,VSS"), the user's own by theirs, any letter case; or why
// the names cannot be used, with the names there are.
struct PidChoice {
  std::vector<int> pids;
  std::vector<std::size_t> own;  // indices into the own parameters
  QString error;
};
PidChoice parsePids(const QString& list, const std::vector<obd::UserParameter>& own);

// What the user of a run without a window is told: errors and warnings each
// on a line of their own, the progress line rewritten in place.
struct HeadlessOutput {
  std::function<void(const QString& line)> error;
  std::function<void(const QString& line)> progress;  // empty text: end the line
};

// The progress line and the end both logs without a window share: `show`
// rewrites the line every half second while `shown` (and there is a line to
// write); the end comes once: the line shown a last time and ended, then the
// finished handler told the exit status.
class HeadlessEnding {
 public:
  HeadlessEnding(Clock& clock, const HeadlessOutput& output, bool shown, std::function<void()> show);
  void start();
  bool ended() const { return ended_; }
  // Ends the progress line, so that an error gets a line of its own.
  void breakLine() const;
  void end(int status);
  void setFinished(std::function<void(int status)> finished) { finished_ = std::move(finished); }

 private:
  const HeadlessOutput& output_;
  bool shown_;
  std::function<void()> show_;
  std::unique_ptr<Timer> timer_;
  bool ended_ = false;
  std::function<void(int)> finished_;
};

// The scan without a window: the main window's scan cycle over boxes in
// memory, writing the same log. It ends on its own after `rounds` log lines,
// when asked to (a signal), or when a fault leaves it unable to go on; then
// the finished handler is told once the exit status (0, or 1 after a fault).
// A car that gave no value in the first kSilentRounds rounds (or in all of
// fewer asked for) ends it with 1 and the log removed: a log of placeholders
// helps nobody, and the reason names --standard.
class HeadlessLog : public QObject {
 public:
  struct Options {
    QString logPath;
    std::optional<qint64> rounds;  // log lines to write; none: until told to stop
    std::vector<Box> chosen;       // see parseParams
    bool progress = false;         // a progress line on the terminal
  };
  using Output = HeadlessOutput;

  static constexpr qint64 kSilentRounds = 3;

  HeadlessLog(PortFactory& ports, Clock& clock, Options options, Output output);
  ~HeadlessLog() override;

  // Opens the port and the log and starts the scan; false (told, and the
  // finished handler told 1) when it could not.
  bool start();
  // Stops on a whole line: port and log closed, the finished handler told 0
  // unless the log could not be closed properly.
  void finish();
  void setFinished(std::function<void(int status)> finished) { ending_.setFinished(std::move(finished)); }

 private:
  void fail(const Failure& failure);
  void afterEvent();
  void showProgress();
  bool heardAnything() const;

  Clock& clock_;
  Options options_;
  Output output_;
  MemoryBoxes boxes_;
  std::array<QString, kBoxCount> fresh_;  // what each box shows before any answer
  std::optional<QString> protocol_;       // the adapter's answer to ATDPN after a silent round
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<ScanCycle> scan_;
  qint64 lines_ = 0;
  qint64 requests_ = 0;
  qint64 requestsAtLastShow_ = 0;
  Micros lastShow_{};
  double rate_ = 0;
  bool stopping_ = false;
  HeadlessEnding ending_;
};

// Standard data without a window (--log FILE --standard): the Standard data
// poll and its log, with the same progress line, signals and faults as the
// scan's: status 0 after `rounds` log lines or a signal, 1 (and why) when the
// port, the car or the log fails. A named parameter the car does not report
// is told and left out.
class HeadlessStandardLog : public QObject {
 public:
  struct Options {
    QString logPath;
    std::optional<qint64> rounds;
    std::optional<PidChoice> chosen;  // none: every parameter the car reports, and all own ones
    UnitChoice units;
    std::vector<obd::UserParameter> own;
    trip::Fuel fuel = trip::Fuel::kPetrol;
    double calibration = 1.0;
    bool progress = false;
  };

  HeadlessStandardLog(PortFactory& ports, Clock& clock, Options options, HeadlessOutput output);
  ~HeadlessStandardLog() override;

  bool start();
  void finish();
  void setFinished(std::function<void(int status)> finished) { ending_.setFinished(std::move(finished)); }
  StandardPoller& poller() { return *poller_; }

 private:
  void fail(const Failure& failure);
  void supported();
  void roundEnded();
  void showProgress();

  Clock& clock_;
  Options options_;
  HeadlessOutput output_;
  Readings readings_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<StandardPoller> poller_;
  qint64 lines_ = 0;
  HeadlessEnding ending_;
};

}  // namespace tarvex
