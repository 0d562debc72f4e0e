#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "core/clock.h"
#include "core/readings.h"
#include "link/serial_port.h"
#include "standard/standard_poller.h"
#include "ui/file_dialog.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tarvex {

// The standard data window: "Start" finds the car's protocol and the service
// 01 parameters it supports, lists the known ones in a table (tick a row to
// take it out of the poll or back in), polls them and shows the protocol, the
// achieved requests and parameters a second, the car's identity and its
// readiness. Values go to the readings (charts) and, when asked, to a CSV
// log. "Stop" or closing the window lets go of the port; a closed window
// deletes itself.
//
// Laid out with Qt layouts rather than a fixed layout: the table grows with
// what the car supports, which no fixed box grid can hold.
class StandardDataWindow : public QWidget {
  Q_OBJECT
 public:
  // Without a chooser, a port that will not open is only reported; without a
  // file dialog, the platform's is used.
  StandardDataWindow(PortFactory& ports, Clock& clock, Readings& readings, Reporter reporter = {},
                     PortChooser* chooser = nullptr, FileDialog* files = nullptr, QWidget* parent = nullptr);
  ~StandardDataWindow() override;

  StandardPoller& poller() { return *poller_; }
  // As "Start" does: opens the port (offering another where it cannot) and polls.
  void start();
  // Values, units and the trip in these units; the log from its next opening.
  void setUnits(const UnitChoice& units);
  const UnitChoice& units() const { return units_; }

  // The value table's columns.
  enum Column { kName, kValue, kUnit, kController, kColumnCount };

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void showStage();
  void fillTable();
  void showValue(int pid);
  void showOwnValue(std::size_t index);
  void showIdentity();
  void showRates();
  void showTrip();
  void logToggled(bool on);
  void chooseLogFile();

  PortWindow port_;
  std::unique_ptr<StandardPoller> poller_;
  QtFileDialog platformFiles_;
  FileDialog& files_;
  QLabel* status_ = nullptr;
  QLabel* protocol_ = nullptr;
  QLabel* rates_ = nullptr;
  QCheckBox* log_ = nullptr;
  QLineEdit* logPath_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* vin_ = nullptr;
  QLabel* calibrations_ = nullptr;
  QLabel* ecuNames_ = nullptr;
  QLabel* readiness_ = nullptr;
  QLabel* trip_ = nullptr;
  std::map<int, int> rowOf_;             // PID to table row
  std::map<std::size_t, int> ownRowOf_;  // a user parameter's index to its row
  UnitChoice units_;
  bool filling_ = false;
};

// A decoded value for the table in the units chosen: the first reading
// without its unit (the unit has its own column), further readings with
// theirs, words as they are.
QString valueText(const obd::Value& value, const UnitChoice& units = UnitChoice());
// The trip computer's figures in the units chosen, on one line; what it needs
// when the car does not report it.
QString tripText(const StandardPoller& poller, const UnitChoice& units);
// The readiness as lines: lamp and count, ignition, then each monitor.
QString readinessText(const obd::Readiness& readiness);

}  // namespace tarvex
