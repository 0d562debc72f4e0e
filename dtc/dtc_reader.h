#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "dtc/dtc_session.h"
#include "link/serial_port.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/window_builder.h"

class QLineEdit;

namespace tarvex {

// The trouble-code window: "Read DTC", "Reset DTC" and the adapter's raw
// answers. It takes the port when it is built and lets go of it when it is
// closed; a closed window deletes itself, so the next one starts afresh.
class DTCReader : public QWidget {
  Q_OBJECT
 public:
  // Without a chooser, a port that will not open is only reported. Without a
  // clock, the system's paces the output box.
  explicit DTCReader(PortFactory& ports, Reporter reporter = {}, PortChooser* chooser = nullptr,
                     Clock* clock = nullptr, QWidget* parent = nullptr);
  ~DTCReader() override;

  const ControlMap& controls() const { return controls_; }
  DTCSession& session() { return *session_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Form_Load();
  void pb_ReadDTC_Click();
  void pb_ResetDTC_Click();
  void Form_Unload();
  void MSComm1_OnComm(PortEvent event);
  // Reports a failure; true when the user picked another port to try again on.
  bool report(const std::optional<QString>& failure);

  std::unique_ptr<Clock> ownClock_;
  std::unique_ptr<SerialPort> MSComm1;
  std::unique_ptr<DTCSession> session_;
  ControlMap controls_;
  QLineEdit* DTCOutput = nullptr;
  Reporter report_;
  PortFactory& ports_;
  PortChooser* chooser_;
};

}  // namespace tarvex
