#include "drag/obd_dragstrip.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

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
      Comm1(ports.createPort({tr("the drag strip window"), /*dataTerminalReady=*/false})),
      Timer1(clock.createTimer()),
      controls_(buildWindow(*this, dragstripLayout())),
      RxText(controls_.get<QLineEdit>(QStringLiteral("RxText"))),
      Ticks(controls_.get<QLineEdit>(QStringLiteral("Ticks"))),
      report_(orMessageBox(std::move(reporter))),
      ports_(ports),
      chooser_(chooser) {
  setAttribute(Qt::WA_DeleteOnClose);
  for (int i = 0; i < kDragBoxCount; ++i) {
    boxes_.edits[std::size_t(i)] = controls_.get<QLineEdit>(dragBoxName(DragBox(i)));
  }
  poller_ = std::make_unique<DragPoller>(*Comm1, *Timer1, clock, boxes_, QLocale(), RxText->text());
  Comm1->setNotify([this](PortEvent event) { Comm1_OnComm(event); });
  Timer1->setCallback([this] { Timer1_Timer(); });
  rxMirror_ = new BoxMirror(*RxText);
  ticksMirror_ = new BoxMirror(*Ticks);
  poller_->link().hooks().onBufferChanged = [this](const QString& text) { rxMirror_->show(text); };
  poller_->setFailureHandler([this](const QString& message) { report_(this, Urgency::kError, message); });
  poller_->setTicksHandler([this](std::int32_t ticks) { ticksMirror_->show(QString::number(ticks)); });
  connect(RxText, &QLineEdit::textEdited, this, &OBDDragstrip::RxText_Change);
  connect(controls_.get<QPushButton>(QStringLiteral("pb_Start")), &QPushButton::clicked, this,
          [this] { pb_Start_Click(); });
  connect(controls_.get<QPushButton>(QStringLiteral("pb_stop")), &QPushButton::clicked, this,
          [this] { pb_stop_Click(); });
  focusFirstControl(controls_, dragstripLayout());
}

OBDDragstrip::~OBDDragstrip() {
  poller_->stop();
  Comm1->setNotify({});
  Timer1->setCallback({});
}

void OBDDragstrip::pb_Start_Click() {
  const std::optional<QString> failure = poller_->start();
  flushMirrors();
  if (!failure) return;
  if (!poller_->openFailed()) {
    report_(this, Urgency::kError, *failure);
  } else if (offerOtherPort(this, *failure, ports_, chooser_, report_)) {
    pb_Start_Click();
  }
}

void OBDDragstrip::pb_stop_Click() {
  poller_->stop();
}

void OBDDragstrip::Comm1_OnComm(PortEvent event) {
  poller_->link().onPortEvent(event);
  flushMirrors();
}

void OBDDragstrip::Timer1_Timer() {
  poller_->link().onReplyTimeout();
  flushMirrors();
}

// The user edited the visible reply buffer: the check runs on the new text.
void OBDDragstrip::RxText_Change(const QString& text) {
  poller_->link().setBuffer(text);
  flushMirrors();
}

void OBDDragstrip::flushMirrors() {
  rxMirror_->flush();
  ticksMirror_->flush();
}

void OBDDragstrip::closeEvent(QCloseEvent* event) {
  // No polling behind a closed window.
  poller_->stop();
  event->accept();
}

}  // namespace tarvex
