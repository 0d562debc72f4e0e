#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tarvex {

// How a window tells the user that something failed. The program shows a
// warning box; tests record the message instead.
using ErrorReporter = std::function<void(QWidget* window, const QString& message)>;

void showWarning(QWidget* window, const QString& message);

// The reporter given, or the warning box when none was.
inline ErrorReporter orWarningBox(ErrorReporter reporter) {
  return reporter ? std::move(reporter) : ErrorReporter(&showWarning);
}

}  // namespace tarvex
