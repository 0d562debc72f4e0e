#include "standard/standard_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

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

QLabel* named(QLabel* label, const char* name) {
  label->setObjectName(QString::fromLatin1(name));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

QString valueText(const obd::Value& value) {
  QStringList parts;
  for (std::size_t i = 0; i < value.readings.size(); ++i) {
    const obd::Reading& r = value.readings[i];
    parts << (i == 0 ? number(r.value)
                     : QStringLiteral("%1 %2").arg(number(r.value), QString::fromUtf8(r.unit)));
  }
  if (!value.text.isEmpty()) parts << value.text;
  return parts.join(QStringLiteral("; "));
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
  auto* facts = new QFormLayout;
  facts->addRow(tr("Protocol:"), protocol_);
  facts->addRow(tr("Achieved:"), rates_);
  facts->addRow(tr("VIN:"), vin_);
  facts->addRow(tr("Calibration IDs:"), calibrations_);
  facts->addRow(tr("ECU name:"), ecuNames_);
  facts->addRow(tr("Readiness:"), readiness_);

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
  h.onSupported = [this] { fillTable(); };
  h.onIdentity = [this] { showIdentity(); };
  h.onValue = [this](int pid) { showValue(pid); };
  h.onRound = [this] { showRates(); };
  poller_->setFailureHandler([this](const Failure& failure) {
    if (poller_->stage() == StandardStage::kPolling) {
      // The log failed: it is off until the user ticks it again; the poll goes on.
      const QSignalBlocker quiet(log_);
      log_->setChecked(false);
      return port_.report(Urgency::kNotice, failureText(failure));
    }
    port_.report(Urgency::kError, failureText(failure));
  });

  connect(start, &QPushButton::clicked, this,
          [this] { port_.withPort([this] { return poller_->start(); }); });
  connect(stop, &QPushButton::clicked, this, [this] { poller_->stop(); });
  connect(log_, &QCheckBox::toggled, this, [this](bool on) { logToggled(on); });
  connect(choose, &QPushButton::clicked, this, [this] { chooseLogFile(); });
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != kName) return;
    poller_->setPolled(item->data(Qt::UserRole).toInt(), item->checkState() == Qt::Checked);
  });
  showStage();
}

StandardDataWindow::~StandardDataWindow() {
  poller_->handlers() = {};
  poller_->setFailureHandler({});
  poller_->stop();
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
  const std::vector<int>& pids = poller_->parameters();
  table_->setRowCount(int(pids.size()));
  for (int row = 0; row < int(pids.size()); ++row) {
    const int pid = pids[std::size_t(row)];
    const obd::Pid* p = obd::findPid(pid);
    auto* name = new QTableWidgetItem(QString::fromUtf8(p->name));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    name->setCheckState(poller_->isPolled(pid) ? Qt::Checked : Qt::Unchecked);
    name->setData(Qt::UserRole, pid);
    name->setToolTip(QString::asprintf("01 %02X ", pid) + QString::fromUtf8(p->column));
    table_->setItem(row, kName, name);
    table_->setItem(row, kValue, new QTableWidgetItem);
    table_->setItem(row, kUnit, new QTableWidgetItem(QString::fromUtf8(p->unit)));
    table_->setItem(row, kController, new QTableWidgetItem);
    rowOf_[pid] = row;
  }
  filling_ = false;
}

void StandardDataWindow::showValue(int pid) {
  const auto it = rowOf_.find(pid);
  const obd::Value* value = poller_->value(pid);
  if (it == rowOf_.end() || !value) return;
  filling_ = true;
  table_->item(it->second, kValue)->setText(valueText(*value));
  table_->item(it->second, kController)->setText(obd::controllerName(poller_->valueSource(pid)));
  filling_ = false;
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
