#include "standard/standard_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "ui/failure_text.h"

namespace tarvex {

namespace {

QString number(double v) {
  // Whole numbers as such; others to the hundredth, as no parameter is finer
  // than a person reads it.
  return v == double(qint64(v)) ? QString::number(qint64(v)) : QString::number(v, 'f', 2);
}

QString items(const std::vector<obd::InfoItems>& infos) {
  QStringList lines;
  for (const obd::InfoItems& info : infos) {
    const QString who =
        info.source.isEmpty() ? QString() : obd::controllerName(info.source) + QStringLiteral(": ");
    lines << who + info.items.join(QStringLiteral(", "));
  }
  return lines.isEmpty() ? QStringLiteral("-") : lines.join(QLatin1Char('\n'));
}

// Where a user parameter's row keeps its index.
constexpr int kOwnRole = Qt::UserRole + 1;

QLabel* named(QLabel* label, const char* name) {
  label->setObjectName(QString::fromLatin1(name));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

QString valueText(const obd::Value& value, const UnitChoice& units) {
  QStringList parts;
  for (std::size_t i = 0; i < value.readings.size(); ++i) {
    const Converted c = convert(value.readings[i].value, value.readings[i].unit, units);
    parts << (i == 0 ? number(c.value) : QStringLiteral("%1 %2").arg(number(c.value), c.label));
  }
  if (!value.text.isEmpty()) parts << value.text;
  return parts.join(QStringLiteral("; "));
}

QString tripText(const StandardPoller& poller, const UnitChoice& units) {
  if (!poller.tripRuns())
    return QCoreApplication::translate("StandardDataWindow",
                                       "- (needs road speed and the fuel rate or the air flow)");
  const trip::TripComputer& t = poller.trip();
  const auto figure = [&units](std::optional<double> value, std::string_view unit, int decimals) {
    const Converted c = convert(value.value_or(0), unit, units);
    if (!value || !std::isfinite(c.value)) return QStringLiteral("- %1").arg(c.label);
    return QStringLiteral("%1 %2").arg(QString::number(c.value, 'f', decimals), c.label);
  };
  return QCoreApplication::translate("StandardDataWindow",
                                     "%1 now, %2 on average; %3 used over %4 (from %5, %6)")
      .arg(figure(t.litresPer100Km(), "L/100 km", 1), figure(t.averageLitresPer100Km(), "L/100 km", 1),
           figure(t.fuelLitres(), "L", 2), figure(t.distanceKm(), "km", 1),
           t.usesFuelRate() ? QCoreApplication::translate("StandardDataWindow", "the fuel rate")
                            : QCoreApplication::translate("StandardDataWindow", "the air flow"),
           t.fuel() == trip::Fuel::kDiesel ? QCoreApplication::translate("StandardDataWindow", "diesel")
                                           : QCoreApplication::translate("StandardDataWindow", "petrol"));
}

QString readinessText(const obd::Readiness& r) {
  QStringList lines;
  lines << QStringLiteral("MIL %1, %2 stored code(s), %3 ignition")
               .arg(r.milOn ? QStringLiteral("on") : QStringLiteral("off"))
               .arg(r.storedCodes)
               .arg(r.ignition == obd::Ignition::kSpark ? QStringLiteral("spark")
                                                        : QStringLiteral("compression"));
  for (const obd::Monitor& m : r.monitors) {
    const QString state = !m.supported ? QStringLiteral("not supported")
                          : m.complete ? QStringLiteral("complete")
                                       : QStringLiteral("incomplete");
    lines << QStringLiteral("%1: %2").arg(QString::fromUtf8(m.name), state);
  }
  return lines.join(QLatin1Char('\n'));
}

StandardDataWindow::StandardDataWindow(PortFactory& ports, Clock& clock, Readings& readings,
                                       Reporter reporter, PortChooser* chooser, FileDialog* files,
                                       QWidget* parent)
    : QWidget(parent),
      port_(*this, ports, clock, {tr("the standard data window")}, std::move(reporter), chooser),
      poller_(std::make_unique<StandardPoller>(port_.port(), port_.timer(), clock, port_.traits(), readings)),
      files_(files ? *files : platformFiles_) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("StandardData"));
  setWindowTitle(tr("Standard data"));

  auto* start = new QPushButton(tr("Start"));
  start->setObjectName(QStringLiteral("pb_Start"));
  auto* stop = new QPushButton(tr("Stop"));
  stop->setObjectName(QStringLiteral("pb_Stop"));
  status_ = named(new QLabel, "lb_status");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start);
  buttons->addWidget(stop);
  buttons->addWidget(status_, 1);

  protocol_ = named(new QLabel(QStringLiteral("-")), "lb_protocol");
  rates_ = named(new QLabel(QStringLiteral("-")), "lb_rates");
  vin_ = named(new QLabel(QStringLiteral("-")), "lb_vin");
  calibrations_ = named(new QLabel(QStringLiteral("-")), "lb_calibrations");
  ecuNames_ = named(new QLabel(QStringLiteral("-")), "lb_ecu");
  readiness_ = named(new QLabel(QStringLiteral("-")), "lb_readiness");
  trip_ = named(new QLabel(QStringLiteral("-")), "lb_trip");
  auto* facts = new QFormLayout;
  facts->addRow(tr("Protocol:"), protocol_);
  facts->addRow(tr("Achieved:"), rates_);
  facts->addRow(tr("VIN:"), vin_);
  facts->addRow(tr("Calibration IDs:"), calibrations_);
  facts->addRow(tr("ECU name:"), ecuNames_);
  facts->addRow(tr("Readiness:"), readiness_);
  facts->addRow(tr("Trip:"), trip_);

  log_ = new QCheckBox(tr("Log to file"));
  log_->setObjectName(QStringLiteral("cb_log"));
  logPath_ = new QLineEdit;
  logPath_->setObjectName(QStringLiteral("tb_logpath"));
  logPath_->setReadOnly(true);
  auto* choose = new QPushButton(QStringLiteral("..."));
  choose->setObjectName(QStringLiteral("pb_logfile"));
  choose->setToolTip(tr("Select logfile"));
  auto* logRow = new QHBoxLayout;
  logRow->addWidget(log_);
  logRow->addWidget(logPath_, 1);
  logRow->addWidget(choose);

  table_ = new QTableWidget(0, kColumnCount);
  table_->setObjectName(QStringLiteral("tw_values"));
  table_->setHorizontalHeaderLabels({tr("Parameter"), tr("Value"), tr("Unit"), tr("From")});
  table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addLayout(facts);
  layout->addLayout(logRow);
  layout->addWidget(table_, 1);
  resize(640, 720);

  port_.route([this](PortEvent event) { poller_->session().onPortEvent(event); },
              [this] { poller_->session().onReplyTimeout(); });
  StandardPoller::Handlers& h = poller_->handlers();
  h.onStage = [this] { showStage(); };
  h.onSupported = [this] {
    fillTable();
    showTrip();
  };
  h.onIdentity = [this] { showIdentity(); };
  h.onValue = [this](int pid) { showValue(pid); };
  h.onOwnValue = [this](std::size_t index) { showOwnValue(index); };
  h.onRound = [this] {
    showRates();
    showTrip();
  };
  poller_->setFailureHandler([this](const Failure& failure) {
    if (poller_->stage() == StandardStage::kPolling) {
      // The log failed: it is off until the user ticks it again; the poll goes on.
      const QSignalBlocker quiet(log_);
      log_->setChecked(false);
      return port_.report(Urgency::kNotice, failureText(failure));
    }
    port_.report(Urgency::kError, failureText(failure));
  });

  connect(start, &QPushButton::clicked, this, [this] { this->start(); });
  connect(stop, &QPushButton::clicked, this, [this] { poller_->stop(); });
  connect(log_, &QCheckBox::toggled, this, [this](bool on) { logToggled(on); });
  connect(choose, &QPushButton::clicked, this, [this] { chooseLogFile(); });
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != kName) return;
    const bool on = item->checkState() == Qt::Checked;
    if (const QVariant own = item->data(kOwnRole); own.isValid())
      return poller_->setOwnPolled(own.toUInt(), on);
    poller_->setPolled(item->data(Qt::UserRole).toInt(), on);
  });
  showStage();
}

StandardDataWindow::~StandardDataWindow() {
  poller_->handlers() = {};
  poller_->setFailureHandler({});
  poller_->stop();
}

void StandardDataWindow::start() {
  port_.withPort([this] { return poller_->start(); });
}

void StandardDataWindow::setUnits(const UnitChoice& units) {
  units_ = units;
  poller_->setUnits(units);
  fillTable();
  for (const auto& [pid, row] : rowOf_) showValue(pid);
  for (const auto& [index, row] : ownRowOf_) showOwnValue(index);
  showTrip();
}

void StandardDataWindow::closeEvent(QCloseEvent* event) {
  poller_->stop();  // no polling behind a closed window
  event->accept();
}

void StandardDataWindow::showStage() {
  switch (poller_->stage()) {
    case StandardStage::kIdle:
      status_->setText(tr("Stopped"));
      break;
    case StandardStage::kSettingUp:
      status_->setText(tr("Setting the adapter up..."));
      break;
    case StandardStage::kSearching:
      status_->setText(tr("Searching the protocol..."));
      break;
    case StandardStage::kDiscovering:
      status_->setText(tr("Asking what the car supports..."));
      break;
    case StandardStage::kPolling:
      status_->setText(tr("Polling"));
      break;
    case StandardStage::kNoCar:
      status_->setText(tr("No car answered"));
      break;
  }
  const auto& p = poller_->protocol();
  if (p)
    protocol_->setText(
        QStringLiteral("%1 (%2)").arg(QString::fromUtf8(p->name), QChar::fromLatin1(p->number)));
}

void StandardDataWindow::fillTable() {
  filling_ = true;
  rowOf_.clear();
  ownRowOf_.clear();
  const std::vector<int>& pids = poller_->parameters();
  const std::vector<obd::UserParameter>& own = poller_->ownParameters();
  table_->setRowCount(int(pids.size() + own.size()));
  const auto addRow = [this](int row, const QString& text, const QString& tip, bool polled,
                             const QString& unit) {
    auto* name = new QTableWidgetItem(text);
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    name->setCheckState(polled ? Qt::Checked : Qt::Unchecked);
    name->setToolTip(tip);
    table_->setItem(row, kName, name);
    table_->setItem(row, kValue, new QTableWidgetItem);
    table_->setItem(row, kUnit, new QTableWidgetItem(convert(0.0, unit, units_).label));
    table_->setItem(row, kController, new QTableWidgetItem);
    return name;
  };
  int row = 0;
  for (const int pid : pids) {
    const obd::Pid* p = obd::findPid(pid);
    addRow(row, QString::fromUtf8(p->name), QString::asprintf("01 %02X ", pid) + QString::fromUtf8(p->column),
           poller_->isPolled(pid), QString::fromUtf8(p->unit))
        ->setData(Qt::UserRole, pid);
    rowOf_[pid] = row++;
  }
  for (std::size_t i = 0; i < own.size(); ++i) {
    const obd::UserParameter& p = own[i];
    QString tip =
        p.requestText() + QLatin1Char(' ') + poller_->ownChannel(i) + QLatin1String(": ") + p.equation();
    if (!p.header().isEmpty()) tip += tr(" (asked of %1)").arg(p.header());
    addRow(row, p.name().isEmpty() ? p.shortName() : p.name(), tip, poller_->isOwnPolled(i), p.unit())
        ->setData(kOwnRole, uint(i));
    ownRowOf_[i] = row++;
  }
  filling_ = false;
}

void StandardDataWindow::showValue(int pid) {
  const auto it = rowOf_.find(pid);
  const obd::Value* value = poller_->value(pid);
  if (it == rowOf_.end() || !value) return;
  filling_ = true;
  table_->item(it->second, kValue)->setText(valueText(*value, units_));
  table_->item(it->second, kController)->setText(obd::controllerName(poller_->valueSource(pid)));
  filling_ = false;
}

void StandardDataWindow::showOwnValue(std::size_t index) {
  const auto it = ownRowOf_.find(index);
  const OwnValue* value = poller_->ownValue(index);
  if (it == ownRowOf_.end() || !value) return;
  filling_ = true;
  const QString unit = poller_->ownParameters()[index].unit();
  table_->item(it->second, kValue)
      ->setText(value->value ? number(convert(*value->value, unit, units_).value) : tr("not answered"));
  table_->item(it->second, kController)
      ->setText(value->source.isEmpty() ? QString() : obd::controllerName(value->source));
  filling_ = false;
}

void StandardDataWindow::showTrip() {
  trip_->setText(tripText(*poller_, units_));
}

void StandardDataWindow::showIdentity() {
  const CarIdentity& id = poller_->identity();
  vin_->setText(items(id.vin));
  calibrations_->setText(items(id.calibrations));
  ecuNames_->setText(items(id.ecuNames));
  if (const auto& r = poller_->readiness()) readiness_->setText(readinessText(*r));
}

void StandardDataWindow::showRates() {
  const PollRates r = poller_->rates();
  rates_->setText(tr("%1 requests/s, %2 parameters/s (%3)")
                      .arg(r.requestsPerSecond, 0, 'f', 1)
                      .arg(r.parametersPerSecond, 0, 'f', 1)
                      .arg(poller_->manyPerRequest()
                               ? tr("up to %1 a request").arg(StandardPoller::kMostPerRequest)
                               : tr("one a request")));
}

void StandardDataWindow::logToggled(bool on) {
  if (on && logPath_->text().isEmpty()) chooseLogFile();
  if (on && logPath_->text().isEmpty()) {
    const QSignalBlocker quiet(log_);
    log_->setChecked(false);
    return;
  }
  poller_->setLogPath(on ? std::optional<QString>(logPath_->text()) : std::nullopt);
}

void StandardDataWindow::chooseLogFile() {
  const std::optional<QString> path =
      files_.chooseSaveFile(this, tr("Standard data log"), tr("CSV (*.csv)|*.csv"), QStringLiteral("csv"),
                            QStringLiteral("standard.csv"));
  if (!path) return;
  logPath_->setText(*path);
  if (log_->isChecked()) {
    poller_->setLogPath(std::nullopt);  // the next round opens the new file
    poller_->setLogPath(*path);
  }
}

}  // namespace tarvex
