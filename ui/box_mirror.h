#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QLineEdit;

namespace tarvex {

// Sets a box's text and puts its cursor at `cursor` (-1: the end, as after
// setText), unless the box shows exactly that already, with nothing selected,
// edited or to undo: setting it again would change nothing anyone sees, but
// cost a text layout and a repaint. Values that the car holds steady come in
// again and again.
void setBoxText(QLineEdit& box, const QString& text, int cursor = -1);

// A text box that mirrors a text which can change several times while one
// event is handled (the reply buffer filled and emptied by one arrival, the
// command sent after it): show() only notes the newest text, and the window
// calls flush() when it has handled the event, so the box is set once, and
// not at all when it already shows that text (the emptied buffer after every
// reply). A box shows what it holds when
// the event loop next paints it, so the texts in between were never seen;
// setting each would cost a text layout. A box its window hides is seen by
// nobody: the window says when it is worth setting (once an exchange), and it
// is set at the latest when shown. Should a change come from somewhere no
// window handler flushes, the box catches up when the event loop next comes
// round. The mirror belongs to its box and goes with it.
class BoxMirror : public QObject {
 public:
  explicit BoxMirror(QLineEdit& box);
  void show(const QString& text);
  void flush(bool evenIfHidden = true);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit& box_;
  QString text_;
  bool pending_ = false;
  QTimer later_;
};

}  // namespace tarvex
