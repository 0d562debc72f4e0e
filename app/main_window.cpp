#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/scan_messages.h"
#include "app/selection.h"
#include "core/text.h"
#include "link/qt_serial_port.h"
#include "replay/replay_controls.h"
#include "ui/adapter_dialog.h"
#include "ui/failure_text.h"

namespace tarvex {

namespace {

constexpr char kDialogTitle[] = "Select log file...";
constexpr char kDialogFilter[] = "Text (*.csv)|*.csv";
constexpr char kDialogExtension[] = "csv";

QColor fromBgr(std::uint32_t bgr) {
  return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

template <typename W>
W& showWindow(QPointer<W>& slot, const std::function<W*()>& make) {
  if (!slot) {
    slot = make();
    slot->setAttribute(Qt::WA_DeleteOnClose);
  }
  slot->show();
  slot->raise();
  slot->activateWindow();
  return *slot;
}

}  // namespace

// The gauge window may have been closed (and deleted) by the user; a closed
// window counts as not visible.
class WindowRegistry::Needles final : public GaugeSink {
 public:
  explicit Needles(WindowRegistry& windows) : windows_(windows) {}
  bool gaugesVisible() const override { return windows_.gauges() && windows_.gauges()->gaugesVisible(); }
  void UpdateSpeed(std::int16_t speed) override { windows_.gauges()->UpdateSpeed(speed); }
  void UpdateTach(std::int16_t rpm) override { windows_.gauges()->UpdateTach(rpm); }

 private:
  WindowRegistry& windows_;
};

WindowRegistry::WindowRegistry(PortFactory& ports, Clock& clock, FileDialog& fileDialog, Reporter report,
                               PortChooser* portChooser)
    : ports_(ports),
      clock_(clock),
      fileDialog_(fileDialog),
      report_(orMessageBox(std::move(report))),
      portChooser_(portChooser),
      needles_(std::make_unique<Needles>(*this)) {
  // A day of scanning at full rate, per channel; the oldest values go first.
  readings_.setLimit(2'000'000);
  // The window that opens the port is the one the user is working in.
  ports_.setNotice([this](const QString& text) {
    report_(QApplication::activeWindow(), Urgency::kNotice, Message(text, QStringLiteral("Line speed")));
  });
  // While the line speed is looked for, the pointer says so; every window
  // stays usable, and Stop ends the search.
  ports_.setStatus([](const QString& text) {
    if (!text.isEmpty()) {
      QApplication::setOverrideCursor(Qt::BusyCursor);
    } else if (QApplication::overrideCursor()) {
      QApplication::restoreOverrideCursor();
    }
  });
}

WindowRegistry::~WindowRegistry() {
  ports_.setNotice({});
  ports_.setStatus({});
  delete charts_.data();
  delete codesInWords_.data();
  delete monitorTests_.data();
  delete reportWindow_.data();
  delete standardData_.data();
  delete dragstrip_.data();
  delete dtcReader_.data();
  delete gauges_.data();
}

Gauges& WindowRegistry::showGauges() {
  return showWindow<Gauges>(gauges_, [] { return new Gauges(); });
}

DTCReader& WindowRegistry::showDtcReader() {
  return showWindow<DTCReader>(dtcReader_,
                               [this] { return new DTCReader(ports_, clock_, report_, portChooser_); });
}

StandardDataWindow& WindowRegistry::showStandardData() {
  return showWindow<StandardDataWindow>(standardData_, [this] {
    auto* w = new StandardDataWindow(ports_, clock_, readings_, report_, portChooser_, &fileDialog_);
    w->setUnits(units_);
    w->poller().setOwnParameters(own_);
    w->poller().trip().setFuel(trip_.fuel);
    w->poller().trip().setCalibration(trip_.calibration);
    w->poller().setGaugeSink(needles_.get());
    return w;
  });
}

CodesWindow& WindowRegistry::showCodesInWords() {
  return showWindow<CodesWindow>(codesInWords_, [this] {
    auto* w = new CodesWindow(ports_, clock_, report_, portChooser_);
    w->setUnits(units_);
    return w;
  });
}

MonitorsWindow& WindowRegistry::showMonitorTests() {
  return showWindow<MonitorsWindow>(
      monitorTests_, [this] { return new MonitorsWindow(ports_, clock_, report_, portChooser_, units_); });
}

ReportWindow& WindowRegistry::showReport(const QString& path) {
  const bool made = !reportWindow_;
  ReportWindow& window = showWindow<ReportWindow>(reportWindow_, [&] {
    return new ReportWindow(ports_, clock_, fileDialog_, path, report_, portChooser_, units_);
  });
  if (!made) window.saveTo(path);
  return window;
}

ChartsWindow& WindowRegistry::showCharts() {
  return showWindow<ChartsWindow>(charts_, [this] {
    auto* w = new ChartsWindow(readings_, clock_, fileDialog_, report_);
    w->setUnits(units_);
    return w;
  });
}

GaugeSink& WindowRegistry::gaugeSink() {
  return *needles_;
}

void WindowRegistry::usePreferences(Preferences& preferences) {
  preferences_ = nullptr;  // what is read there need not be written back
  setUnits(preferences.units());
  const KeptParameters kept = preferences.parameters();
  setOwnParameters(kept, obd::readUserParameters(kept.content).parameters);
  setTrip(preferences.trip());
  preferences_ = &preferences;
}

void WindowRegistry::setUnits(const UnitChoice& units) {
  units_ = units;
  if (preferences_) preferences_->setUnits(units);
  if (standardData_) standardData_->setUnits(units);
  if (charts_) charts_->setUnits(units);
  if (codesInWords_) codesInWords_->setUnits(units);
  if (monitorTests_) monitorTests_->setUnits(units);
}

void WindowRegistry::setOwnParameters(const KeptParameters& kept,
                                      std::vector<obd::UserParameter> parameters) {
  kept_ = kept;
  own_ = std::move(parameters);
  if (preferences_) preferences_->setParameters(kept);
  if (standardData_) standardData_->poller().setOwnParameters(own_);
}

void WindowRegistry::setTrip(const TripSettings& trip) {
  trip_ = trip;
  if (preferences_) preferences_->setTrip(trip);
  if (standardData_) {
    standardData_->poller().trip().setFuel(trip.fuel);
    standardData_->poller().trip().setCalibration(trip.calibration);
  }
}

void WindowRegistry::chooseUnits(QWidget* parent) {
  if (const std::optional<UnitChoice> chosen = asker_->chooseUnits(parent, units_)) setUnits(*chosen);
}

void WindowRegistry::chooseTrip(QWidget* parent) {
  if (const std::optional<TripSettings> chosen = asker_->chooseTrip(parent, trip_)) setTrip(*chosen);
}

void WindowRegistry::importParameters(QWidget* parent) {
  const QString title = QObject::tr("Import parameters");
  const std::optional<QString> path = fileDialog_.chooseOpenFile(
      parent, title, QObject::tr("Parameter files (*.csv *.txt)|*.csv *.txt|All files (*)|*"));
  if (!path) return;
  const ImportedParameters read = tarvex::importParameters(*path);
  if (!read.failure.isEmpty())
    return report_(
        parent, Urgency::kError,
        Message(QObject::tr("Cannot read the parameter file %1: %2. The parameters kept before stay.")
                    .arg(*path, read.failure),
                title));
  setOwnParameters(read.kept, read.parameters);
  const std::size_t count = read.parameters.size();
  QString text =
      (count == 1 ? QObject::tr("1 parameter of %1 is kept in the settings for Standard data.")
                  : QObject::tr("%1 parameters of %2 are kept in the settings for Standard data.").arg(count))
          .arg(*path);
  if (!read.leftOut.isEmpty()) text += QObject::tr("\n\nLeft out:\n") + read.leftOut.join(QLatin1Char('\n'));
  report_(parent, read.leftOut.isEmpty() ? Urgency::kNotice : Urgency::kError, Message(text, title));
}

void WindowRegistry::showLastDragRun() {
  ChartsWindow& charts = showCharts();
  if (!dragstrip_)
    return report_(&charts, Urgency::kNotice,
                   Message(QStringLiteral("No drag run yet: open the drag strip and press Start."),
                           QStringLiteral("Drag run")));
  const DragRun& run = dragstrip_->poller().run();
  charts.showRun(run.lastRun(), run.hundredAt(), run.quarterAt());
}

OBDDragstrip& WindowRegistry::showDragstrip() {
  return showWindow<OBDDragstrip>(dragstrip_,
                                  [this] { return new OBDDragstrip(ports_, clock_, report_, portChooser_); });
}

// The value boxes are the window's line edits and the lamp its square.
class Tarvex::WidgetBoxes final : public ValueBoxes {
 public:
  explicit WidgetBoxes(const ControlMap& controls) {
    for (int i = 0; i < kBoxCount; ++i)
      edits_[std::size_t(i)] = controls.get<QLineEdit>(toQString(boxName(Box(i))));
    lamp_ = controls.get<FilledSquare>(QStringLiteral("MIL"));
  }
  QString text(Box box) const override { return edit(box)->text(); }
  void setText(Box box, const QString& text) override {
    setBoxText(*edit(box), text, 0);  // showing the start of a long value, as a box does
  }
  bool isEnabled(Box box) const override { return edit(box)->isEnabled(); }
  void setEnabled(Box box, bool enabled) override { edit(box)->setEnabled(enabled); }
  void setMilColour(std::uint32_t bgr) override { lamp_->setFillColour(fromBgr(bgr)); }

 private:
  QLineEdit* edit(Box box) const { return edits_[static_cast<std::size_t>(box)]; }
  std::array<QLineEdit*, kBoxCount> edits_{};
  FilledSquare* lamp_ = nullptr;
};

Tarvex::Tarvex(WindowRegistry& windows, QWidget* parent)
    : QWidget(parent),
      windows_(windows),
      menuBar_(new QMenuBar(this)),
      client_(new QWidget(this)),
      controls_(buildWindow(*client_, tarvexLayout())),
      port_(*this, windows.ports(), windows.clock(), {tr("the main window"), /*dataTerminalReady=*/true},
            windows.report(), windows.portChooser()),
      Comm1(port_.port()),
      Timer1(port_.timer()) {
  tb_logpath = controls_.get<QLineEdit>(QStringLiteral("tb_logpath"));
  RxText = controls_.get<QLineEdit>(QStringLiteral("RxText"));
  TxText = controls_.get<QLineEdit>(QStringLiteral("TxText"));
  cb_log = controls_.get<QCheckBox>(QStringLiteral("cb_log"));
  pb_StartScan = controls_.get<QPushButton>(QStringLiteral("pb_StartScan"));
  pb_StopScan = controls_.get<QPushButton>(QStringLiteral("pb_StopScan"));
  pb_DTCOpen = controls_.get<QPushButton>(QStringLiteral("pb_DTCOpen"));
  pb_drag = controls_.get<QPushButton>(QStringLiteral("pb_drag"));
  pb_changedir = controls_.get<QPushButton>(QStringLiteral("pb_changedir"));

  client_->setObjectName(QStringLiteral("clientArea"));
  setWindowTitle(client_->windowTitle());
  buildMenus();
  placeClientArea();

  boxes_ = std::make_unique<WidgetBoxes>(controls_);
  scan_ =
      std::make_unique<ScanCycle>(Comm1, Timer1, windows_.clock(), port_.traits(), *boxes_, RxText->text());
  port_.route([this](PortEvent event) { Comm1_OnComm(event); }, [this] { Timer1_Timer(); });
  scan_->setGaugeSink(&windows_.gaugeSink());
  scan_->setReadings(&windows_.readings());
  // The windows that poll on their own take the port as the drag strip does.
  setMenuHandler(MenuEntry::kStandardData, [this] {
    scan_->releasePort();
    windows_.showStandardData();
  });
  setMenuHandler(MenuEntry::kTroubleCodesInWords, [this] {
    scan_->releasePort();
    windows_.showCodesInWords();
  });
  setMenuHandler(MenuEntry::kOnBoardTests, [this] {
    scan_->releasePort();
    windows_.showMonitorTests();
  });
  setMenuHandler(MenuEntry::kSaveReport, [this] { saveReport(); });
  replay_ = std::make_unique<ReplaySession>(windows_.clock(), windows_.readings());
  connect(&replay_->player(), &ReplayPlayer::lineChanged, this,
          [this](qsizetype line) { showReplayLine(line); });
  setMenuHandler(MenuEntry::kOpenReplay, [this] { chooseReplay(); });
  setMenuHandler(MenuEntry::kCharts, [this] { windows_.showCharts(); });
  scan_->setFailureHandler([this](const Failure& failure) {
    setScanning(false);
    report(failure);
  });
  scan_->setSilenceHandler([this](const Result<QString>& protocol) {
    const QString text = silenceNotice(Comm1.deviceName(), protocol, scan_->refusal());
    if (offersStandardData(protocol)) return offerStandardData(text);
    port_.report(Urgency::kNotice, text);
  });
  // The hidden reply buffer box is set once an exchange, as the next command
  // goes out: setting it on every character cost most of the window's work.
  BoxMirror& rxMirror = port_.mirror(*RxText, /*onExchange=*/true);
  BoxMirror& txMirror = port_.mirror(*TxText);
  scan_->link().hooks().onBufferChanged = [&rxMirror](const QString& text) { rxMirror.show(text); };
  scan_->link().hooks().onCommandSent = [this, &txMirror](const QString& text) {
    txMirror.show(text);
    port_.noteExchange();
  };

  connect(pb_StartScan, &QPushButton::clicked, this, &Tarvex::pb_StartScan_Click);
  connect(pb_StopScan, &QPushButton::clicked, this, &Tarvex::pb_StopScan_Click);
  connect(pb_changedir, &QPushButton::clicked, this, &Tarvex::pb_changedir_Click);
  connect(pb_drag, &QPushButton::clicked, this, &Tarvex::pb_drag_Click);
  connect(pb_DTCOpen, &QPushButton::clicked, this, &Tarvex::pb_DTCOpen_Click);
  for (const SelectionLabel& s : kSelectionLabels) {
    const QString name = toQString(s.label);
    connect(controls_.get<ClickableLabel>(name), &ClickableLabel::clicked, this,
            [this, name] { tb_Click(name); });
  }

  Form_Load();
}

Tarvex::~Tarvex() {
  scan_->setFailureHandler({});
  scan_->stop();
}

void Tarvex::Form_Load() {
  windows_.showGauges();
}

void Tarvex::buildMenus() {
  menuBar_->setObjectName(QStringLiteral("menuBar"));
  const auto add = [this](QMenu* menu, const QString& text, const QKeySequence& keys, auto&& slot) {
    QAction* action = menu->addAction(text);
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, std::forward<decltype(slot)>(slot));
    addAction(action);  // its shortcut works wherever the focus is in this window
    return action;
  };
  const auto routed = [this, &add](QMenu* menu, const QString& text, MenuEntry entry,
                                   const QKeySequence& keys = {}) {
    const auto i = static_cast<std::size_t>(entry);
    QAction* action = add(menu, text, keys, [this, i] {
      if (handlers_[i]) handlers_[i]();
    });
    action->setEnabled(false);
    routed_[i] = action;
  };

  QMenu* file = menuBar_->addMenu(tr("&File"));
  routed(file, tr("&Open log for replay..."), MenuEntry::kOpenReplay, QKeySequence(Qt::CTRL | Qt::Key_O));
  routed(file, tr("&Close replay"), MenuEntry::kCloseReplay, QKeySequence(Qt::CTRL | Qt::Key_W));
  file->addSeparator();
  adapterAction_ = add(file, tr("&Adapter..."), QKeySequence(), [this] { chooseAdapter(); });
  add(file, tr("&Import parameters..."), QKeySequence(), [this] {
    windows_.importParameters(this);
  })->setObjectName(QStringLiteral("actionImportParameters"));
  routed(file, tr("Save &report..."), MenuEntry::kSaveReport);
  file->addSeparator();
  add(file, tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { quit(); });

  QMenu* view = menuBar_->addMenu(tr("&View"));
  add(view, tr("&Gauges"), QKeySequence(), [this] { windows_.showGauges(); });
  routed(view, tr("&Charts"), MenuEntry::kCharts);
  add(view, tr("Last &drag run"), QKeySequence(), [this] { windows_.showLastDragRun(); });
  routed(view, tr("&Standard data"), MenuEntry::kStandardData);
  view->addSeparator();
  add(view, tr("&Units..."), QKeySequence(), [this] {
    windows_.chooseUnits(this);
  })->setObjectName(QStringLiteral("actionUnits"));
  add(view, tr("T&rip computer..."), QKeySequence(), [this] {
    windows_.chooseTrip(this);
  })->setObjectName(QStringLiteral("actionTrip"));
  routed(view, tr("&On-board tests"), MenuEntry::kOnBoardTests);

  QMenu* tools = menuBar_->addMenu(tr("&Tools"));
  troubleCodesAction_ = add(tools, tr("&Trouble codes"), QKeySequence(), [this] { pb_DTCOpen_Click(); });
  dragAction_ = add(tools, tr("&Drag strip"), QKeySequence(), [this] { pb_drag_Click(); });
  routed(tools, tr("Trouble codes in &words"), MenuEntry::kTroubleCodesInWords);

  QMenu* help = menuBar_->addMenu(tr("&Help"));
  add(help, tr("&About Tarvex"), QKeySequence(Qt::Key_F1), [this] { showAbout(); });
}

// The client area keeps the layout's size and starts right under the bar; the
// window is the bar's height taller than the layout.
void Tarvex::placeClientArea() {
  const int bar = menuBar_->sizeHint().height();
  menuBar_->setGeometry(0, 0, std::max(width(), client_->width()), bar);
  client_->move(0, bar);
  resize(client_->width(), bar + client_->height());
}

void Tarvex::setMenuHandler(MenuEntry entry, std::function<void()> handler) {
  const auto i = static_cast<std::size_t>(entry);
  routed_[i]->setEnabled(bool(handler));
  handlers_[i] = std::move(handler);
}

void Tarvex::showAbout() {
  // The file being written, not a path chosen since for the next scan.
  const bool logging = scan_->logging();
  const QString log = logging ? scan_->logPath() : tb_logpath->text();
  const QString text =
      tr("Tarvex %1\n\nScans the enhanced parameters of a GM engine controller through an ELM327 "
         "adapter.\n\nLicence: GPL-3.0-or-later (GNU General Public License, version 3 or any later "
         "version). This program comes with no warranty.\n\nThe log goes to: %2%3")
          .arg(QStringLiteral(TARVEX_VERSION), log,
               logging || cb_log->isChecked() ? QString() : tr(" (when \"Log to file\" is ticked)"));
  windows_.report()(this, Urgency::kNotice, Message(text, tr("About Tarvex")));
}

void Tarvex::quit() {
  QApplication::closeAllWindows();
  QCoreApplication::quit();
}

void Tarvex::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!focused_) {
    focused_ = true;
    // The style may have changed the bar's height since it was built.
    if (client_->y() != menuBar_->sizeHint().height()) placeClientArea();
    focusFirstControl(controls_, tarvexLayout());
  }
}

void Tarvex::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  menuBar_->resize(width(), menuBar_->height());
}

void Tarvex::chooseReplay() {
  const std::optional<QString> path = windows_.fileDialog().chooseOpenFile(
      this, tr("Open log for replay"), QStringLiteral("Tarvex logs (*.csv)|*.csv|All files (*)|*"));
  if (!path) return;
  if (const Status opened = openReplay(*path); !opened)
    port_.report(Urgency::kError, failureText(opened.failure()));
}

Status Tarvex::openReplay(const QString& path) {
  // A scan stops first: its port and log are closed before the log plays.
  scan_->stop();
  setScanning(false);
  closeReplay();
  if (Status opened = replay_->open(path); !opened) return opened;
  setReplaying(true);
  auto* window = new QWidget;
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(tr("Replay - %1").arg(QFileInfo(path).fileName()));
  auto* layout = new QVBoxLayout(window);
  layout->addWidget(
      new ReplayControls(replay_->player(), [this](std::int64_t ms) { return replay_->log().timeText(ms); }));
  if (replay_->log().skippedLines() > 0) layout->addWidget(new QLabel(replay_->log().skippedNotice()));
  // Closing the player's window ends the replay, as File > Close replay does.
  connect(window, &QObject::destroyed, this, [this] {
    if (replay_->isOpen()) closeReplay();
  });
  replayWindow_ = window;
  window->show();
  // The whole log in the charts, the player's cursor on them.
  ChartsWindow& charts = windows_.showCharts();
  charts.setWholeLog(true);
  connect(&replay_->player(), &ReplayPlayer::cursorMoved, &charts, [this, &charts](qint64 ms) {
    const Readings& r = windows_.readings();
    charts.setCursorTime(r.toMs(Micros{std::chrono::milliseconds{ms}}));
  });
  showReplayLine(replay_->player().line());
  return {};
}

void Tarvex::closeReplay() {
  if (!replay_->isOpen()) return;
  replay_->close();
  if (replayWindow_) replayWindow_->close();
  if (ChartsWindow* charts = windows_.charts()) charts->setWholeLog(false);
  setReplaying(false);
}

void Tarvex::showReplayLine(qsizetype line) {
  for (const auto& [box, text] : replay_->boxTexts(line)) {
    boxes_->setText(box, text);
    showOnNeedles(&windows_.gaugeSink(), box, text, QLocale());
  }
}

void Tarvex::setReplaying(bool replaying) {
  for (QWidget* w : std::initializer_list<QWidget*>{pb_StartScan, pb_StopScan, pb_DTCOpen, pb_drag, cb_log})
    w->setEnabled(!replaying);
  for (QAction* a :
       {troubleCodesAction_, dragAction_, adapterAction_, routed_[std::size_t(MenuEntry::kStandardData)],
        routed_[std::size_t(MenuEntry::kTroubleCodesInWords)], routed_[std::size_t(MenuEntry::kOnBoardTests)],
        routed_[std::size_t(MenuEntry::kSaveReport)]})
    a->setEnabled(!replaying);
  routed_[std::size_t(MenuEntry::kCloseReplay)]->setEnabled(replaying);
  handlers_[std::size_t(MenuEntry::kCloseReplay)] =
      replaying ? std::function<void()>([this] { closeReplay(); }) : std::function<void()>();
  setWindowTitle(replaying ? client_->windowTitle() +
                                 tr(" - replaying %1").arg(QFileInfo(replay_->path()).fileName())
                           : client_->windowTitle());
}

void Tarvex::setScanning(bool scanning) {
  pb_DTCOpen->setEnabled(!scanning);
  troubleCodesAction_->setEnabled(!scanning);
  adapterAction_->setEnabled(!scanning);
  cb_log->setEnabled(!scanning);
  pb_StartScan->setEnabled(!scanning);
}

// Which adapter every window uses; the dialog tests it on the port, so the
// window lets go of it first (the entry is greyed while a scan runs).
void Tarvex::chooseAdapter() {
  scan_->releasePort();
  QStringList devices;
  for (const SerialDeviceInfo& d : serialDevices()) devices << d.device;
  AdapterDialog dialog(this, windows_.ports(), windows_.clock(), devices);
  dialog.exec();
}

void Tarvex::pb_StartScan_Click() {
  port_.withPort([this] { return scan_->start(cb_log->isChecked(), tb_logpath->text()); },
                 [this](const Failure& failure) { report(failure); });
  if (scan_->session().active()) setScanning(true);
}

void Tarvex::offerStandardData(const QString& text) {
  if (offer_) offer_->close();
  auto* box = new QMessageBox(QMessageBox::Information, tr("No answer to the GM scan"), text,
                              QMessageBox::NoButton, this);
  box->setObjectName(QStringLiteral("standardDataOffer"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  QPushButton* open = box->addButton(tr("Open Standard data"), QMessageBox::AcceptRole);
  open->setObjectName(QStringLiteral("pb_openStandardData"));
  box->addButton(tr("Keep scanning"), QMessageBox::RejectRole);
  box->setDefaultButton(open);
  connect(open, &QPushButton::clicked, this, [this] {
    scan_->stop();
    setScanning(false);
    windows_.showStandardData().start();
  });
  offer_ = box;
  box->show();
}

void Tarvex::pb_StopScan_Click() {
  scan_->stop();
  setScanning(false);
}

void Tarvex::Comm1_OnComm(PortEvent event) {
  scan_->session().onPortEvent(event);
}

void Tarvex::Timer1_Timer() {
  scan_->session().onReplyTimeout();
}

void Tarvex::report(const Failure& failure) {
  QString message = scanFailureText(failure, scan_->logWasOpen());
  if (failure.is(Failure::Kind::kLost))
    message += tr(" The scan has stopped; press Start Scan when the adapter is back.");
  else if (failure.is(Failure::Kind::kWrite))
    message += tr(" The scan has stopped.");
  port_.report(Urgency::kError, message);
}

void Tarvex::pb_changedir_Click() {
  const std::optional<QString> chosen = windows_.fileDialog().chooseSaveFile(
      this, QString::fromLatin1(kDialogTitle), QString::fromLatin1(kDialogFilter),
      QString::fromLatin1(kDialogExtension), commDialFileName_);
  // A cancelled dialog leaves the path box as the user left it.
  if (!chosen) return;
  commDialFileName_ = *chosen;
  tb_logpath->setText(commDialFileName_);
}

// The file first, then the car: the report window reads and saves, holding
// the port as the trouble-code windows do.
void Tarvex::saveReport() {
  const std::optional<QString> chosen = windows_.fileDialog().chooseSaveFile(
      this, tr("Save report"), QStringLiteral("HTML (*.html)|*.html|PDF (*.pdf)|*.pdf"),
      QStringLiteral("html"), QStringLiteral("tarvex-report.html"));
  if (!chosen) return;
  scan_->releasePort();
  windows_.showReport(*chosen);
}

void Tarvex::pb_drag_Click() {
  scan_->releasePort();
  windows_.showDragstrip();
}

void Tarvex::pb_DTCOpen_Click() {
  scan_->releasePort();
  windows_.showDtcReader();
}

void Tarvex::tb_Click(const QString& label) {
  for (const SelectionLabel& s : kSelectionLabels) {
    if (toQString(s.label) != label) continue;
    const bool enable = !boxes_->isEnabled(s.box);
    boxes_->setEnabled(s.box, enable);
    if (s.pairedWith) boxes_->setEnabled(*s.pairedWith, enable);
    return;
  }
}

void Tarvex::closeEvent(QCloseEvent* event) {
  // No scan goes on behind a closed window: port, reply timer and log are
  // closed; a replay ends with its player's window.
  scan_->stop();
  closeReplay();
  setScanning(false);
  QWidget::closeEvent(event);
}

}  // namespace tarvex
