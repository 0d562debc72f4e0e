#include "ui/message.h"

#include <QMessageBox>
#include <QWidget>

namespace tarvex {

QString messageTitle(const QWidget* window, const Message& message) {
  if (!message.topic.isEmpty()) return message.topic;
  if (window && !window->windowTitle().isEmpty()) return window->windowTitle();
  return QStringLiteral("Tarvex");
}

void showMessage(QWidget* window, Urgency urgency, const Message& message) {
  auto* box = new QMessageBox(urgency == Urgency::kError ? QMessageBox::Warning : QMessageBox::Information,
                              messageTitle(window, message), message.text, QMessageBox::Ok, window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Neither box runs an event loop of its own inside the handler that shows
  // it: an error holds its window until it is read, a notice holds nothing.
  if (urgency == Urgency::kError) {
    box->open();
  } else {
    box->setModal(false);
    box->show();
  }
}

}  // namespace tarvex
