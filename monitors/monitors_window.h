#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "car/car_link.h"
#include "core/units.h"
#include "link/serial_port.h"
#include "monitors/monitor_reader.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace tarvex {

// "On-board tests": every controller's service 06 results with the monitor's
// and the test's names, value, limits, unit and verdict, the failed ones
// first and marked, and the misfire counts per cylinder in a small table of
// their own.
// It reads the car when it opens and on "Read again". It holds the port while
// it is open; a closed window deletes itself.
class MonitorsWindow : public QWidget {
  Q_OBJECT
 public:
  // Without a chooser, a port that will not open is only reported.
  MonitorsWindow(PortFactory& ports, Clock& clock, Reporter reporter = {}, PortChooser* chooser = nullptr,
                 UnitChoice units = {}, QWidget* parent = nullptr);
  ~MonitorsWindow() override;

  // Shows the values read in these units from now on.
  void setUnits(const UnitChoice& units);
  MonitorReader& reader() { return *reader_; }

  QLabel* protocolLabel() const { return protocol_; }
  QLabel* summaryLabel() const { return summary_; }
  QLabel* statusLabel() const { return status_; }
  QTableWidget* testsTable() const { return tests_; }
  QTableWidget* misfireTable() const { return misfires_; }
  QPushButton* readButton() const { return read_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void showReport(const MonitorReport& report);
  void busy(bool on);

  PortWindow port_;
  std::unique_ptr<CarLink> car_;
  std::unique_ptr<MonitorReader> reader_;
  std::optional<MonitorReport> shown_;
  UnitChoice units_;
  QLabel* protocol_;
  QLabel* summary_;
  QLabel* status_;
  QTableWidget* tests_;
  QTableWidget* misfires_;
  QPushButton* read_;
};

}  // namespace tarvex
