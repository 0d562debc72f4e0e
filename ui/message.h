#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tarvex {

enum class Urgency {
  kError,   // something failed and stopped; the window waits for the user
  kNotice,  // worth knowing, while the window goes on working
};

// What the user is told, and what it is about: the title of its box. Without
// a topic the message is about the window it stands on, and is titled after
// it. Converts from and to its text, so reporters that only keep the text need
// not know of the topic.
struct Message {
  Message(QString what, QString about = {}) : text(std::move(what)), topic(std::move(about)) {}  // NOLINT
  operator const QString&() const { return text; }                                               // NOLINT
  QString text;
  QString topic;
};

// How a window tells the user something. The program shows a message box that
// never holds up the event loop; tests record the message instead.
using Reporter = std::function<void(QWidget* window, Urgency urgency, const Message& message)>;

// The box's title: the topic, else the window's title, else the program's name.
QString messageTitle(const QWidget* window, const Message& message);
void showMessage(QWidget* window, Urgency urgency, const Message& message);

// The reporter given, or the message box when none was.
inline Reporter orMessageBox(Reporter reporter) {
  return reporter ? std::move(reporter) : Reporter(&showMessage);
}

}  // namespace tarvex
