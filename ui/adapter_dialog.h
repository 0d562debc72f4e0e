#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "core/clock.h"
#include "link/adapter_probe.h"
#include "link/serial_port.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarvex {

// File > Adapter...: which adapter every window uses (a serial device, a
// Bluetooth one among them, or a Wi-Fi adapter at host:port) and at which line
// speed (auto: looked for), with a test that shows what the adapter says of
// itself (ATI, AT@1) and the voltage at the car's socket (ATRV). OK keeps the
// choice for every window; Cancel puts the one before back.
class AdapterDialog final : public QDialog {
  Q_OBJECT
 public:
  // devices: the serial devices there are now.
  AdapterDialog(QWidget* parent, PortFactory& ports, Clock& clock, const QStringList& devices);
  ~AdapterDialog() override;

  // The adapter as chosen in the dialog: a device path or tcp://HOST:PORT.
  QString device() const;
  qint32 baud() const;  // 0: looked for
  // The test's outcome as shown.
  QString result() const;
  QPushButton* testButton() const { return test_; }

  void accept() override;
  void reject() override;

 private:
  void test();
  Status apply();
  void showResult(const QString& text);

  PortFactory& ports_;
  Clock& clock_;
  QString before_;  // the adapter and speed when the dialog opened
  std::optional<qint32> beforeSpeed_;
  bool changed_ = false;  // a test put another adapter in place
  QRadioButton* serial_;
  QRadioButton* wifi_;
  QComboBox* device_;
  QLineEdit* address_;
  QComboBox* speed_;
  QPushButton* test_;
  QLabel* result_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<AdapterProbe> probe_;
};

}  // namespace tarvex
