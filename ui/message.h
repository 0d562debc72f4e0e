#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tarvex {

enum class Urgency {
  kError,   // something failed and stopped; the window waits for the user
  kNotice,  // worth knowing, while the window goes on working
};

// How a window tells the user something. The program shows a message box that
// never holds up the event loop; tests record the message instead.
using Reporter = std::function<void(QWidget* window, Urgency urgency, const QString& message)>;

void showMessage(QWidget* window, Urgency urgency, const QString& message);

// The reporter given, or the message box when none was.
inline Reporter orMessageBox(Reporter reporter) {
  return reporter ? std::move(reporter) : Reporter(&showMessage);
}

}  // namespace tarvex
