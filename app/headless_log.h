#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "link/serial_port.h"
#include "scan/catalogue.h"
#include "scan/scan_cycle.h"
#include "scan/value_boxes.h"

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

// The scan without a window: the main window's scan cycle over boxes in
// memory, writing the same log. It ends on its own after `rounds` log lines,
// when asked to (a signal), or when a fault leaves it unable to go on; then
// `finished` is emitted once with the exit status (0, or 1 after a fault).
class HeadlessLog : public QObject {
  Q_OBJECT
 public:
  struct Options {
    QString logPath;
    std::optional<qint64> rounds;  // log lines to write; none: until told to stop
    std::vector<Box> chosen;       // see parseParams
    bool progress = false;         // a progress line on the terminal
  };
  // What the user is told: errors and warnings each on a line of their own,
  // the progress line rewritten in place.
  struct Output {
    std::function<void(const QString& line)> error;
    std::function<void(const QString& line)> progress;  // empty text: end the line
  };

  HeadlessLog(PortFactory& ports, Clock& clock, Options options, Output output);
  ~HeadlessLog() override;

  // Opens the port and the log and starts the scan; false (told, and
  // `finished` emitted with 1) when it could not.
  bool start();
  // Stops on a whole line: port and log closed, `finished` with 0 unless the
  // log could not be closed properly.
  void finish();

  qint64 linesWritten() const { return lines_; }

 signals:
  void finished(int status);

 private:
  void fail(const Failure& failure);
  void end(int status);
  void afterEvent();
  void showProgress();

  Clock& clock_;
  Options options_;
  Output output_;
  MemoryBoxes boxes_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<Timer> progressTimer_;
  std::unique_ptr<ScanCycle> scan_;
  qint64 lines_ = 0;
  qint64 requests_ = 0;
  qint64 requestsAtLastShow_ = 0;
  Micros lastShow_{};
  double rate_ = 0;
  bool ended_ = false;
  bool stopping_ = false;
};

}  // namespace tarvex
