#include "ui/message.h"

#include <QMessageBox>
#include <QWidget>

namespace tarvex {

void showWarning(QWidget* window, const QString& message) {
  QMessageBox::warning(window, window ? window->windowTitle() : QString(), message);
}

}  // namespace tarvex
