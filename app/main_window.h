#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/preferences.h"
#include "charts/charts_window.h"
#include "codes/codes_window.h"
#include "core/readings.h"
#include "drag/obd_dragstrip.h"
#include "dtc/dtc_reader.h"
#include "gauges/gauges_window.h"
#include "monitors/monitors_window.h"
#include "replay/replay_session.h"
#include "report/report_window.h"
#include "scan/scan_cycle.h"
#include "standard/standard_window.h"
#include "ui/box_mirror.h"
#include "ui/file_dialog.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"
#include "ui/settings_dialogs.h"
#include "ui/window_builder.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace tarvex {

// What the windows of one run share: the device every port names, the clock,
// the file dialog, how failures reach the user and how the user may pick
// another port when the device will not open (without a chooser the failure is
// only reported). What the ports have to say goes out as a notice. The program holds one
// instance of each window class, made on first use; a window the user closed
// deletes itself and is built anew from its layout next time.
class WindowRegistry {
 public:
  WindowRegistry(PortFactory& ports, Clock& clock, FileDialog& fileDialog, Reporter report = {},
                 PortChooser* portChooser = nullptr);
  ~WindowRegistry();

  Gauges* gauges() const { return gauges_; }
  Gauges& showGauges();
  DTCReader& showDtcReader();
  OBDDragstrip& showDragstrip();
  StandardDataWindow& showStandardData();
  CodesWindow& showCodesInWords();
  MonitorsWindow& showMonitorTests();
  // Reads the car for the report and saves it to `path`.
  ReportWindow& showReport(const QString& path);
  ChartsWindow& showCharts();
  ChartsWindow* charts() const { return charts_; }
  // The drag strip's last run as speed over time, with its marks.
  void showLastDragRun();

  // The decoded values of this run: the scan's and the standard data's, live.
  Readings& readings() { return readings_; }
  // The needles, for whichever poll runs: the scan or Standard data.
  GaugeSink& gaugeSink();

  // Reads the units, the own parameters and the trip settings kept there, and
  // keeps every later change there. Without it they hold for this run only.
  void usePreferences(Preferences& preferences);
  // The units Standard data (and its log), the charts and the trouble codes'
  // freeze frames show values in; every open window follows at once.
  const UnitChoice& units() const { return units_; }
  void setUnits(const UnitChoice& units);
  // The user's own parameters, polled by Standard data (from its next round).
  const std::vector<obd::UserParameter>& ownParameters() const { return own_; }
  void setOwnParameters(const KeptParameters& kept, std::vector<obd::UserParameter> parameters);
  const KeptParameters& keptParameters() const { return kept_; }
  const TripSettings& trip() const { return trip_; }
  void setTrip(const TripSettings& trip);

  // The menu entries: View > Units..., View > Trip computer..., File > Import
  // parameters...: ask, apply, keep; what went wrong or was left out is told.
  void chooseUnits(QWidget* parent);
  void chooseTrip(QWidget* parent);
  void importParameters(QWidget* parent);
  // Tests answer the settings dialogs from a script.
  void setSettingsAsker(SettingsAsker* asker) { asker_ = asker ? asker : &dialogs_; }

  PortFactory& ports() { return ports_; }
  Clock& clock() { return clock_; }
  FileDialog& fileDialog() { return fileDialog_; }
  const Reporter& report() const { return report_; }
  PortChooser* portChooser() { return portChooser_; }

 private:
  PortFactory& ports_;
  Clock& clock_;
  FileDialog& fileDialog_;
  Reporter report_;
  PortChooser* portChooser_;
  QPointer<Gauges> gauges_;
  QPointer<DTCReader> dtcReader_;
  QPointer<OBDDragstrip> dragstrip_;
  QPointer<StandardDataWindow> standardData_;
  QPointer<CodesWindow> codesInWords_;
  QPointer<MonitorsWindow> monitorTests_;
  QPointer<ReportWindow> reportWindow_;
  QPointer<ChartsWindow> charts_;
  Readings readings_;
  class Needles;
  std::unique_ptr<Needles> needles_;
  Preferences* preferences_ = nullptr;
  UnitChoice units_;
  KeptParameters kept_;
  std::vector<obd::UserParameter> own_;
  TripSettings trip_;
  DialogSettingsAsker dialogs_;
  SettingsAsker* asker_ = &dialogs_;
};

// The menu entries whose work is done by windows the main window does not
// hold itself. Each stays disabled until the program routes it somewhere.
enum class MenuEntry {
  kOpenReplay,           // File > Open log for replay...
  kCloseReplay,          // File > Close replay
  kCharts,               // View > Charts
  kStandardData,         // View > Standard data
  kTroubleCodesInWords,  // Tools > Trouble codes in words
  kOnBoardTests,         // View > On-board tests
  kSaveReport,           // File > Save report...
};
inline constexpr int kMenuEntryCount = 7;

// The main window: a menu bar over the client area, which holds the value boxes and their selection labels,
// the log file controls, the scan buttons and the buttons that hand the port to the other windows.
class Tarvex : public QWidget {
  Q_OBJECT
 public:
  explicit Tarvex(WindowRegistry& windows, QWidget* parent = nullptr);
  ~Tarvex() override;

  const ControlMap& controls() const { return controls_; }
  // The laid-out controls, placed under the menu bar at the layout's size.
  QWidget& clientArea() const { return *client_; }
  QMenuBar& menuBar() const { return *menuBar_; }
  // The action of a routed entry (to enable, disable or retitle it).
  QAction* menuAction(MenuEntry entry) const { return routed_[std::size_t(entry)]; }
  // Routes an entry: it is enabled and calls `handler` when chosen. An empty
  // handler disables it again.
  void setMenuHandler(MenuEntry entry, std::function<void()> handler);
  ScanCycle& scan() { return *scan_; }

  void Form_Load();
  void pb_StartScan_Click();
  void pb_StopScan_Click();
  void pb_changedir_Click();
  void pb_drag_Click();
  void pb_DTCOpen_Click();
  // A selection label's click: toggles its value box (or the fuel-status pair).
  void tb_Click(const QString& label);
  void Comm1_OnComm(PortEvent event);
  void Timer1_Timer();
  // Help > About: version, licence and where the log goes.
  void showAbout();
  // File > Quit: every window closes (port and log closed), then the program ends.
  void quit();

  // Plays a log back through this window instead of the car: the boxes and
  // the gauges show the line under the cursor, no port is opened and the scan
  // controls are disabled until closeReplay(). Or why it cannot be played.
  Status openReplay(const QString& path);
  void closeReplay();
  ReplaySession& replay() { return *replay_; }

  // After a silent round on a car that speaks no J1850 VPW: a box that says
  // so and opens Standard data in one click ("Open Standard data": the scan
  // stops, Standard data opens and starts). Null when none is shown.
  QMessageBox* standardDataOffer() const { return offer_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class WidgetBoxes;
  void buildMenus();
  void offerStandardData(const QString& text);
  void placeClientArea();
  void setScanning(bool scanning);
  void setReplaying(bool replaying);
  void showReplayLine(qsizetype line);
  void chooseReplay();
  void chooseAdapter();
  void saveReport();
  void report(const Failure& failure);

  WindowRegistry& windows_;
  QMenuBar* menuBar_;
  QWidget* client_;
  ControlMap controls_;
  std::unique_ptr<WidgetBoxes> boxes_;
  PortWindow port_;
  SerialPort& Comm1;
  Timer& Timer1;
  std::unique_ptr<ScanCycle> scan_;
  QString commDialFileName_;
  bool focused_ = false;

  QLineEdit* tb_logpath = nullptr;
  QLineEdit* RxText = nullptr;
  QLineEdit* TxText = nullptr;
  QCheckBox* cb_log = nullptr;
  QPushButton* pb_StartScan = nullptr;
  QPushButton* pb_StopScan = nullptr;
  QPushButton* pb_DTCOpen = nullptr;
  QPushButton* pb_drag = nullptr;
  QPushButton* pb_changedir = nullptr;
  QAction* troubleCodesAction_ = nullptr;
  QAction* adapterAction_ = nullptr;
  QAction* dragAction_ = nullptr;
  std::unique_ptr<ReplaySession> replay_;
  QPointer<QWidget> replayWindow_;  // the player's controls, while a log plays
  QPointer<QMessageBox> offer_;
  std::array<QAction*, kMenuEntryCount> routed_{};
  std::array<std::function<void()>, kMenuEntryCount> handlers_{};
};

}  // namespace tarvex
