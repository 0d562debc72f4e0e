#include "ui/message.h"

#include <QMessageBox>
#include <QWidget>

namespace tarvex {

void showMessage(QWidget* window, Urgency urgency, const QString& message) {
  auto* box = new QMessageBox(urgency == Urgency::kError ? QMessageBox::Warning : QMessageBox::Information,
                              window ? window->windowTitle() : QString(), message, QMessageBox::Ok, window);
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
