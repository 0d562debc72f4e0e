#include "ui/port_chooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {

std::optional<QString> QtPortChooser::choosePort(QWidget* parent, const QString& message,
                                                 const QStringList& devices) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Choose the adapter's port"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QLabel(message + QStringLiteral("\n\nSerial ports on this computer:"));
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* list = new QListWidget;
  list->addItems(devices);
  list->setCurrentRow(0);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Use this port"));
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  if (dialog.exec() != QDialog::Accepted || !list->currentItem()) return std::nullopt;
  return list->currentItem()->text();
}

bool offerOtherPort(QWidget* window, const QString& message, PortFactory& ports, PortChooser* chooser,
                    const Reporter& report) {
  const QStringList devices = ports.devicesPresent();
  // Held by another of our windows: the device is right, and another is no help.
  if (ports.isHeld()) {
    report(window, Urgency::kError, message);
    return false;
  }
  if (devices.isEmpty() || !chooser) {
    const QString present =
        devices.isEmpty()
            ? QStringLiteral("No serial port was found on this computer.")
            : QStringLiteral("Serial ports on this computer: %1.").arg(devices.join(QStringLiteral(", ")));
    report(window, Urgency::kError, message + QStringLiteral("\n\n") + present);
    return false;
  }
  const std::optional<QString> picked = chooser->choosePort(window, message, devices);
  if (!picked) return false;
  ports.setDeviceName(*picked);
  return true;
}

}  // namespace tarvex
