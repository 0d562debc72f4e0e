#include "ui/box_mirror.h"

#include <QLineEdit>

namespace tarvex {

BoxMirror::BoxMirror(QLineEdit& box) : QObject(&box), box_(box) {
  later_.setSingleShot(true);
  later_.setInterval(0);
  connect(&later_, &QTimer::timeout, this, &BoxMirror::flush);
}

void BoxMirror::show(const QString& text) {
  text_ = text;
  if (pending_) return;
  pending_ = true;
  later_.start();
}

void BoxMirror::flush() {
  if (!pending_) return;
  pending_ = false;
  later_.stop();
  // Setting the text a box already holds, with the cursor at its end and
  // nothing selected or to undo, would change nothing (an emptied buffer
  // after every reply).
  if (box_.text() == text_ && box_.cursorPosition() == text_.size() && !box_.hasSelectedText() &&
      !box_.isUndoAvailable())
    return;
  box_.setText(text_);
}

}  // namespace tarvex
