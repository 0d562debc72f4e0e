#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "link/serial_port.h"
#include "ui/message.h"

class QWidget;

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

// A small dialog: the message, the devices in a list, "Use this port" and "Cancel".
class QtPortChooser final : public PortChooser {
 public:
  std::optional<QString> choosePort(QWidget* parent, const QString& message,
                                    const QStringList& devices) override;
};

// A window's port would not open: the user learns why and which devices there
// are, and may pick one (with a chooser) for every window for the rest of the
// run; nothing is saved. True when one was picked: the window tries again.
bool offerOtherPort(QWidget* window, const QString& message, PortFactory& ports, PortChooser* chooser,
                    const Reporter& report);

}  // namespace tarvex
