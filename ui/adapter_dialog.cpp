#include "ui/adapter_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "link/line_speed.h"
#include "ui/failure_text.h"

namespace tarvex {

namespace {
const QString kTcp = QStringLiteral("tcp://");
// How most Wi-Fi adapters are sold: their own network, this address.
const QString kWifiDefault = QStringLiteral("192.168.0.10:35000");
}  // namespace

AdapterDialog::AdapterDialog(QWidget* parent, PortFactory& ports, Clock& clock, const QStringList& devices)
    : QDialog(parent),
      ports_(ports),
      clock_(clock),
      before_(ports.deviceName()),
      beforeSpeed_(ports.lineSpeed()) {
  setWindowTitle(tr("Adapter"));
  serial_ = new QRadioButton(tr("Serial, USB or Bluetooth device"));
  wifi_ = new QRadioButton(tr("Wi-Fi adapter (host:port)"));
  device_ = new QComboBox;
  device_->setEditable(true);
  device_->addItems(devices);
  address_ = new QLineEdit(kWifiDefault);
  speed_ = new QComboBox;
  speed_->addItem(tr("auto (look for it)"), kFindBaud);
  for (const qint32 rate : kBaudRates) speed_->addItem(QString::number(rate), rate);
  const bool tcp = before_.startsWith(kTcp);
  (tcp ? wifi_ : serial_)->setChecked(true);
  if (tcp) {
    address_->setText(before_.mid(kTcp.size()));
  } else {
    device_->setCurrentText(before_);
  }
  if (beforeSpeed_) speed_->setCurrentIndex(std::max(0, speed_->findData(*beforeSpeed_)));
  test_ = new QPushButton(tr("&Test"));
  test_->setToolTip(tr("Resets the adapter and asks it for its name and the battery voltage"));
  result_ = new QLabel(tr("Not tested yet."));
  result_->setWordWrap(true);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* form = new QFormLayout;
  form->addRow(serial_);
  form->addRow(tr("Device:"), device_);
  form->addRow(tr("Line speed:"), speed_);
  form->addRow(wifi_);
  form->addRow(tr("Address:"), address_);
  form->addRow(test_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  // Room for what an adapter says of itself, or why it could not, wrapped.
  result_->setMinimumSize(fontMetrics().averageCharWidth() * 50, fontMetrics().lineSpacing() * 3);
  result_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(result_);
  layout->addWidget(buttons);
  const auto kindChanged = [this] {
    device_->setEnabled(serial_->isChecked());
    speed_->setEnabled(serial_->isChecked());
    address_->setEnabled(wifi_->isChecked());
  };
  connect(serial_, &QRadioButton::toggled, this, kindChanged);
  kindChanged();
  connect(test_, &QPushButton::clicked, this, [this] { test(); });
  connect(buttons, &QDialogButtonBox::accepted, this, &AdapterDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &AdapterDialog::reject);
}

AdapterDialog::~AdapterDialog() {
  if (probe_) probe_->stop();
}

QString AdapterDialog::device() const {
  return wifi_->isChecked() ? kTcp + address_->text().trimmed() : device_->currentText().trimmed();
}

qint32 AdapterDialog::baud() const {
  return wifi_->isChecked() ? kDefaultBaud : speed_->currentData().toInt();
}

void AdapterDialog::showResult(const QString& text) {
  result_->setText(text);
}

QString AdapterDialog::result() const {
  return result_->text();
}

Status AdapterDialog::apply() {
  if (device() == kTcp || device().isEmpty())
    return Failure{Failure::Kind::kInvalid, tr("The adapter"), tr("give a device or an address"), {}};
  // The adapter in use, unchanged, needs no new line (nor a factory that can make one).
  const std::optional<qint32> speed = ports_.lineSpeed();
  if (device() == ports_.deviceName() && (wifi_->isChecked() || !speed || *speed == baud())) return {};
  Status applied = ports_.setLine(device(), baud());
  changed_ = changed_ || applied.ok();
  return applied;
}

void AdapterDialog::test() {
  if (probe_) probe_->stop();
  if (Status applied = apply(); !applied) {
    showResult(failureText(applied.failure()));
    return;
  }
  port_ = ports_.createPort({tr("the adapter dialog")});
  timer_ = clock_.createTimer();
  probe_ = std::make_unique<AdapterProbe>(*port_, *timer_, clock_, ports_.traits());
  port_->setNotify([this](PortEvent event) { probe_->session().onPortEvent(event); });
  timer_->setCallback([this] { probe_->session().onReplyTimeout(); });
  test_->setEnabled(false);
  showResult(tr("Asking the adapter on %1...").arg(port_->deviceName()));
  const Status started = probe_->start([this](const Result<AdapterIdentity>& identity) {
    test_->setEnabled(true);
    if (!identity) {
      showResult(failureText(identity.failure()));
      return;
    }
    QStringList said{identity->version};
    if (!identity->description.isEmpty()) said << identity->description;
    said << (identity->voltage.isEmpty() ? tr("no battery voltage given")
                                         : tr("battery %1").arg(identity->voltage));
    const std::optional<qint32> speed = ports_.lineSpeed();
    if (speed && *speed != kFindBaud) said << tr("at %1 baud").arg(*speed);
    showResult(said.join(QStringLiteral(", ")));
  });
  if (!started) {
    test_->setEnabled(true);
    showResult(failureText(started.failure()));
  }
}

void AdapterDialog::accept() {
  if (probe_) probe_->stop();
  if (Status applied = apply(); !applied) {
    showResult(failureText(applied.failure()));
    return;
  }
  QDialog::accept();
}

void AdapterDialog::reject() {
  if (probe_) probe_->stop();
  if (changed_) [[maybe_unused]]
    const Status restored = ports_.setLine(before_, beforeSpeed_.value_or(kDefaultBaud));
  QDialog::reject();
}

}  // namespace tarvex
