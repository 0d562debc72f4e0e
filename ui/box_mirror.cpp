#include "ui/box_mirror.h"

#include <QEvent>
#include <QLineEdit>

namespace tarvex {

BoxMirror::BoxMirror(QLineEdit& box) : QObject(&box), box_(box) {
  later_.setSingleShot(true);
  later_.setInterval(0);
  connect(&later_, &QTimer::timeout, this, [this] { flush(); });
  box_.installEventFilter(this);
}

void BoxMirror::show(const QString& text) {
  text_ = text;
  if (pending_) return;
  pending_ = true;
  later_.start();
}

void BoxMirror::flush(bool evenIfHidden) {
  if (!pending_) return;
  later_.stop();
  if (box_.isHidden() && !evenIfHidden) return;
  pending_ = false;
  // Setting the text a box already holds, with the cursor at its end and
  // nothing selected or to undo, would change nothing (an emptied buffer
  // after every reply).
  if (box_.text() == text_ && box_.cursorPosition() == text_.size() && !box_.hasSelectedText() &&
      !box_.isUndoAvailable())
    return;
  box_.setText(text_);
}

bool BoxMirror::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &box_ && event->type() == QEvent::Show) flush();
  return false;
}

}  // namespace tarvex
