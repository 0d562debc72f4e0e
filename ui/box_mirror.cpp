#include "ui/box_mirror.h"

#include <QEvent>
#include <QLineEdit>

namespace tarvex {

void setBoxText(QLineEdit& box, const QString& text, int cursor) {
  const int at = cursor < 0 ? int(text.size()) : cursor;
  if (box.text() == text && box.cursorPosition() == at && !box.hasSelectedText() && !box.isModified() &&
      !box.isUndoAvailable())
    return;
  box.setText(text);
  if (cursor >= 0) box.setCursorPosition(cursor);
}

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
  setBoxText(box_, text_);
}

bool BoxMirror::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &box_ && event->type() == QEvent::Show) flush();
  return false;
}

}  // namespace tarvex
