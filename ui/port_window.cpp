#include "ui/port_window.h"

#include <QLineEdit>

#include "ui/failure_text.h"

namespace tarvex {

PortWindow::PortWindow(QWidget& window, PortFactory& ports, Clock& clock, const PortUse& use, Reporter report,
                       PortChooser* chooser)
    : window_(window),
      ports_(ports),
      report_(orMessageBox(std::move(report))),
      chooser_(chooser),
      port_(ports.createPort(use)),
      timer_(clock.createTimer()) {}

PortWindow::~PortWindow() {
  port_->setNotify({});
  timer_->setCallback({});
}

void PortWindow::route(std::function<void(PortEvent)> onComm, std::function<void()> onTimer) {
  port_->setNotify([this, onComm = std::move(onComm)](PortEvent event) {
    onComm(event);
    flush();
  });
  if (!onTimer) return;
  timer_->setCallback([this, onTimer = std::move(onTimer)] {
    onTimer();
    flush();
  });
}

BoxMirror& PortWindow::mirror(QLineEdit& box, bool onExchange) {
  auto* mirror = new BoxMirror(box);  // the box owns it
  mirrors_.push_back({mirror, onExchange});
  return *mirror;
}

void PortWindow::flush() {
  for (const Mirrored& m : mirrors_) m.mirror->flush(/*evenIfHidden=*/!m.onExchange || exchanged_);
  exchanged_ = false;
}

void PortWindow::withPort(const Attempt& attempt, const FailureHandler& otherwise) {
  settle(attempt(), attempt, otherwise);
}

void PortWindow::settle(Status status, const Attempt& attempt, const FailureHandler& otherwise) {
  for (;; status = attempt()) {
    flush();
    if (status) return;
    const Failure& failure = status.failure();
    if (!failure.is(Failure::Kind::kOpen)) {
      if (otherwise) return otherwise(failure);
      return report(Urgency::kError, failureText(failure));
    }
    if (!offerOtherPort(&window_, failureText(failure), ports_, chooser_, report_)) return;
  }
}

void PortWindow::report(Urgency urgency, const QString& message) const {
  report_(&window_, urgency, message);
}

}  // namespace tarvex
