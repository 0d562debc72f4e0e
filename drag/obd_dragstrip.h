#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "core/clock.h"
#include "drag/drag_poller.h"
#include "drag/drag_run.h"
#include "link/serial_port.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"
#include "ui/window_builder.h"

class QLineEdit;

namespace tarvex {

// The drag strip window: "Start" sets the adapter up and polls the road speed,
// the boxes show the run, "Stop" lets go of the port. Closing the window stops
// the polling too; a closed window deletes itself, so the next one starts afresh.
class OBDDragstrip : public QWidget {
  Q_OBJECT
 public:
  // Without a chooser, a port that will not open is only reported.
  OBDDragstrip(PortFactory& ports, Clock& clock, Reporter reporter = {}, PortChooser* chooser = nullptr,
               QWidget* parent = nullptr);
  ~OBDDragstrip() override;

  const ControlMap& controls() const { return controls_; }
  DragPoller& poller() { return *poller_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The result boxes are the window's line edits.
  class LineEditBoxes final : public DragBoxes {
   public:
    QString text(DragBox box) const override;
    void setText(DragBox box, const QString& text) override;
    std::array<QLineEdit*, kDragBoxCount> edits{};
  };

  void pb_Start_Click();
  void pb_stop_Click();
  void Comm1_OnComm(PortEvent event);
  void Timer1_Timer();
  void RxText_Change(const QString& text);

  ControlMap controls_;
  PortWindow port_;
  SerialPort& Comm1;
  Timer& Timer1;
  LineEditBoxes boxes_;
  std::unique_ptr<DragPoller> poller_;
  QLineEdit* RxText = nullptr;
  QLineEdit* Ticks = nullptr;
};

}  // namespace tarvex
