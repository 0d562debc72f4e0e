#pragma once

#include <QDateTime>
#include <QString>
#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>

#include "core/clock.h"
#include "core/units.h"
#include "link/serial_port.h"
#include "report/car_report.h"

namespace tarvex {

// Puts the report's HTML into a file; the program's own prints PDFs too.
using ReportWriter = std::function<Status(const QString& html, const QString& path)>;

// --report FILE on one port: reads the car, writes the report, says where on
// `out` and why not on `err`. The exit status once it is over: 0 when all was
// read and written; 1 when the file could not be written or the car not read,
// and when a read failed (the report is written all the same, listing it).
class ReportRun {
 public:
  ReportRun(SerialPort& port, Clock& clock, AdapterTraits& traits, QString path, ReportWriter write,
            QTextStream& out, QTextStream& err, UnitChoice units = {});
  ~ReportRun();
  // `date` is when the reading begins, as the report will say.
  void start(const QDateTime& date);
  std::optional<int> status() const { return status_; }
  void setFinished(std::function<void(int status)> finished) { finished_ = std::move(finished); }

 private:
  void finish(int status);
  void failed(const Failure& failure);
  void done(const CarReport& report);

  SerialPort& port_;
  QString path_;
  ReportWriter write_;
  QTextStream& out_;
  QTextStream& err_;
  UnitChoice units_;
  std::unique_ptr<Timer> timer_;
  ReportReader reader_;
  std::optional<int> status_;
  std::function<void(int)> finished_;
};

}  // namespace tarvex
