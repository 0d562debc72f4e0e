#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "link/serial_port.h"
#include "ui/message.h"

class QLineEdit;
class QListWidget;

namespace tarvex {

// The choice a window offers when its port will not open: why, and the serial
// devices there are to pick from instead. Tests substitute a script.
class PortChooser {
 public:
  virtual ~PortChooser() = default;
  // The device picked; nothing when the user cancels.
  virtual std::optional<QString> choosePort(QWidget* parent, const QString& message,
                                            const QStringList& devices) = 0;
};

// The chooser's dialog: the message, the devices in a list with those another
// program holds marked busy, and the path of the device to use, which picking
// one from the list fills in and the user may type instead (a Bluetooth
// device such as /dev/rfcomm0 the system does not list). "Use this port"
// needs a path.
class PortDialog final : public QDialog {
 public:
  PortDialog(QWidget* parent, const QString& message, const QStringList& devices, const QStringList& busy);
  QString device() const;

 private:
  QListWidget* list_;
  QLineEdit* path_;
};

// Shows the dialog. busyDevices: the devices another program holds now.
class QtPortChooser final : public PortChooser {
 public:
  explicit QtPortChooser(std::function<QStringList()> busyDevices = {})
      : busyDevices_(std::move(busyDevices)) {}
  std::optional<QString> choosePort(QWidget* parent, const QString& message,
                                    const QStringList& devices) override;

 private:
  std::function<QStringList()> busyDevices_;
};

// A window's port would not open: the user learns why and which devices there
// are, and may pick or name one (with a chooser) for every window for the
// rest of the run. True when one was chosen: the window tries again.
bool offerOtherPort(QWidget* window, const QString& message, PortFactory& ports, PortChooser* chooser,
                    const Reporter& report);

}  // namespace tarvex
