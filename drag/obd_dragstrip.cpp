#include "drag/obd_dragstrip.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

#include "app/layouts.h"

namespace tarvex {

QString OBDDragstrip::LineEditBoxes::text(DragBox box) const {
  return edits[std::size_t(box)]->text();
}

void OBDDragstrip::LineEditBoxes::setText(DragBox box, const QString& text) {
  edits[std::size_t(box)]->setText(text);
  edits[std::size_t(box)]->setCursorPosition(0);  // a long distance shows its leading digits
}

OBDDragstrip::OBDDragstrip(PortFactory& ports, Clock& clock, ErrorReporter reportError, QWidget* parent)
    : QWidget(parent),
      Comm1(ports.createPort(false)),
      reportError_(orWarningBox(std::move(reportError))) {
  setAttribute(Qt::WA_DeleteOnClose);
  controls_ = buildWindow(*this, dragstripLayout());
  for (int i = 0; i < kDragBoxCount; ++i) {
    boxes_.edits[std::size_t(i)] = controls_.get<QLineEdit>(dragBoxName(DragBox(i)));
  }
  RxText = controls_.get<QLineEdit>(QStringLiteral("RxText"));
  Ticks = controls_.get<QLineEdit>(QStringLiteral("Ticks"));

  poller_ = std::make_unique<DragPoller>(*Comm1, clock, boxes_);
  poller_->setRxTextChanged([this](const QString& text) { RxText->setText(text); });
  poller_->setTicksChanged([this](const QString& text) { Ticks->setText(text); });
  connect(RxText, &QLineEdit::textEdited, this, [this](const QString& text) { poller_->setRxText(text); });
  connect(controls_.get<QPushButton>(QStringLiteral("pb_Start")), &QPushButton::clicked, this,
          [this] { pb_Start_Click(); });
  connect(controls_.get<QPushButton>(QStringLiteral("pb_stop")), &QPushButton::clicked, this,
          [this] { pb_stop_Click(); });
  focusFirstControl(controls_, dragstripLayout());
}

OBDDragstrip::~OBDDragstrip() {
  // The poller lets go of the port before the port goes.
  poller_.reset();
}

void OBDDragstrip::pb_Start_Click() {
  if (const std::optional<QString> failure = poller_->pb_Start_Click()) reportError_(this, *failure);
}

void OBDDragstrip::pb_stop_Click() {
  poller_->pb_stop_Click();
}

void OBDDragstrip::closeEvent(QCloseEvent* event) {
  // No polling behind a closed window.
  poller_->pb_stop_Click();
  event->accept();
}

}  // namespace tarvex
