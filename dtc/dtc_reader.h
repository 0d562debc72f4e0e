#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "dtc/dtc_session.h"
#include "link/serial_port.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"
#include "ui/window_builder.h"

class QLineEdit;

namespace tarvex {

// The trouble-code window: "Read DTC", "Reset DTC" and the adapter's raw
// answers. It takes the port when it is built and lets go of it when it is
// closed; a closed window deletes itself, so the next one starts afresh.
class DTCReader : public QWidget {
  Q_OBJECT
 public:
  // Without a chooser, a port that will not open is only reported.
  DTCReader(PortFactory& ports, Clock& clock, Reporter reporter = {}, PortChooser* chooser = nullptr,
            QWidget* parent = nullptr);
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

  ControlMap controls_;
  PortWindow port_;
  SerialPort& MSComm1;
  std::unique_ptr<DTCSession> session_;
  QLineEdit* DTCOutput = nullptr;
};

}  // namespace tarvex
