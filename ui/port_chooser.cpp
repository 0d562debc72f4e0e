#include "ui/port_chooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {

PortDialog::PortDialog(QWidget* parent, const QString& message, const QStringList& devices,
                       const QStringList& busy)
    : QDialog(parent), list_(new QListWidget), path_(new QLineEdit) {
  setWindowTitle(QStringLiteral("Choose the adapter's port"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(message + QStringLiteral("\n\n") +
                          (devices.isEmpty() ? QStringLiteral("No serial port was found on this computer.")
                                             : QStringLiteral("Serial ports on this computer:")));
  text->setWordWrap(true);
  layout->addWidget(text);
  for (const QString& device : devices) {
    auto* item = new QListWidgetItem(
        busy.contains(device) ? QStringLiteral("%1 (busy: another program holds it)").arg(device) : device,
        list_);
    item->setData(Qt::UserRole, device);
  }
  list_->setVisible(!devices.isEmpty());
  layout->addWidget(list_);
  layout->addWidget(new QLabel(QStringLiteral("Device to use:")));
  path_->setPlaceholderText(QStringLiteral("e.g. /dev/rfcomm0"));
  layout->addWidget(path_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* use = buttons->button(QDialogButtonBox::Ok);
  use->setText(QStringLiteral("Use this port"));
  layout->addWidget(buttons);
  connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
    if (item) path_->setText(item->data(Qt::UserRole).toString());
  });
  connect(path_, &QLineEdit::textChanged, this, [this, use] {
    use->setEnabled(!device().isEmpty());
    const QListWidgetItem* item = list_->currentItem();
    if (item && item->data(Qt::UserRole).toString() != device()) list_->setCurrentItem(nullptr);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  use->setEnabled(false);
  // The first device that is free, else the first.
  int first = 0;
  while (first < devices.size() && busy.contains(devices[first])) ++first;
  list_->setCurrentRow(first < devices.size() ? first : 0);
  path_->setFocus();
}

QString PortDialog::device() const {
  return path_->text().trimmed();
}

std::optional<QString> QtPortChooser::choosePort(QWidget* parent, const QString& message,
                                                 const QStringList& devices) {
  PortDialog dialog(parent, message, devices, busyDevices_ ? busyDevices_() : QStringList());
  if (dialog.exec() != QDialog::Accepted || dialog.device().isEmpty()) return std::nullopt;
  return dialog.device();
}

bool offerOtherPort(QWidget* window, const QString& message, PortFactory& ports, PortChooser* chooser,
                    const Reporter& report) {
  // Held by another of our windows: the device is right, and another is no help.
  if (ports.isHeld()) {
    report(window, Urgency::kError, message);
    return false;
  }
  const QStringList devices = ports.devicesPresent();
  if (!chooser) {
    const QString present =
        devices.isEmpty()
            ? QStringLiteral("No serial port was found on this computer.")
            : QStringLiteral("Serial ports on this computer: %1.").arg(devices.join(QStringLiteral(", ")));
    report(window, Urgency::kError, QString(message + QStringLiteral("\n\n") + present));
    return false;
  }
  // Even with none listed: the user may know the device's path.
  const std::optional<QString> picked = chooser->choosePort(window, message, devices);
  if (!picked) return false;
  ports.setDeviceName(*picked);
  return true;
}

}  // namespace tarvex
