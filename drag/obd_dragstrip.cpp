#include "drag/obd_dragstrip.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

#include "ui/failure_text.h"
#include "ui/layouts.h"

namespace tarvex {

QString OBDDragstrip::LineEditBoxes::text(DragBox box) const {
  return edits[std::size_t(box)]->text();
}

void OBDDragstrip::LineEditBoxes::setText(DragBox box, const QString& text) {
  setBoxText(*edits[std::size_t(box)], text, 0);  // a long distance shows its leading digits
}

OBDDragstrip::OBDDragstrip(PortFactory& ports, Clock& clock, Reporter reporter, PortChooser* chooser,
                           QWidget* parent)
    : QWidget(parent),
      controls_(buildWindow(*this, dragstripLayout())),
      port_(*this, ports, clock, {tr("the drag strip window"), /*dataTerminalReady=*/false},
            std::move(reporter), chooser),
      Comm1(port_.port()),
      Timer1(port_.timer()),
      RxText(controls_.get<QLineEdit>(QStringLiteral("RxText"))),
      Ticks(controls_.get<QLineEdit>(QStringLiteral("Ticks"))) {
  setAttribute(Qt::WA_DeleteOnClose);
  for (int i = 0; i < kDragBoxCount; ++i) {
    boxes_.edits[std::size_t(i)] = controls_.get<QLineEdit>(dragBoxName(DragBox(i)));
  }
  poller_ =
      std::make_unique<DragPoller>(Comm1, Timer1, clock, port_.traits(), boxes_, QLocale(), RxText->text());
  port_.route([this](PortEvent event) { Comm1_OnComm(event); }, [this] { Timer1_Timer(); });
  BoxMirror& rxMirror = port_.mirror(*RxText);
  BoxMirror& ticksMirror = port_.mirror(*Ticks);
  poller_->link().hooks().onBufferChanged = [&rxMirror](const QString& text) { rxMirror.show(text); };
  poller_->setFailureHandler(
      [this](const Failure& failure) { port_.report(Urgency::kError, failureText(failure)); });
  poller_->setTicksHandler([&ticksMirror](std::int32_t ticks) { ticksMirror.show(QString::number(ticks)); });
  connect(RxText, &QLineEdit::textEdited, this, &OBDDragstrip::RxText_Change);
  connect(controls_.get<QPushButton>(QStringLiteral("pb_Start")), &QPushButton::clicked, this,
          [this] { pb_Start_Click(); });
  connect(controls_.get<QPushButton>(QStringLiteral("pb_stop")), &QPushButton::clicked, this,
          [this] { pb_stop_Click(); });
  focusFirstControl(controls_, dragstripLayout());
}

OBDDragstrip::~OBDDragstrip() {
  poller_->stop();
}

void OBDDragstrip::pb_Start_Click() {
  port_.withPort([this] { return poller_->start(); });
}

void OBDDragstrip::pb_stop_Click() {
  poller_->stop();
}

void OBDDragstrip::Comm1_OnComm(PortEvent event) {
  poller_->session().onPortEvent(event);
}

void OBDDragstrip::Timer1_Timer() {
  poller_->session().onReplyTimeout();
}

// The user edited the visible reply buffer: the check runs on the new text.
void OBDDragstrip::RxText_Change(const QString& text) {
  poller_->link().setBuffer(text);
  port_.flush();
}

void OBDDragstrip::closeEvent(QCloseEvent* event) {
  // No polling behind a closed window.
  poller_->stop();
  event->accept();
}

}  // namespace tarvex
