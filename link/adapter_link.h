#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "link/clock.h"
#include "link/reply_check.h"
#include "link/serial_port.h"

namespace tarvex {

inline constexpr Millis kReplyTimeout{150};
inline constexpr char kLineEnd[] = "\r\n";

// The command/reply mechanism shared by the windows that poll the adapter: a
// command goes out, everything received gathers in the reply buffer (RxText),
// every change of the buffer runs the reply check, and the reply timer gives up
// on a request after 150 ms. What follows a complete reply and a time-out is
// the owner's business (the scan cycle's next request, the drag strip's next
// speed request).
class AdapterLink {
 public:
  struct Hooks {
    std::function<void(const QString& out)> onReply;  // a complete reply's data text
    std::function<void()> onTimeout;                  // the reply timer expired
    std::function<void(const QString&)> onRxTextChanged;
    std::function<void(const QString&)> onTxTextChanged;  // only when showsCommands
  };

  // The buffer never grows beyond this: when it does, the oldest text goes.
  // No reply is longer than a few dozen characters.
  static constexpr qsizetype kMaxBuffer = 16 * 1024;

  AdapterLink(SerialPort& port, Clock& clock, ReplyShape expected, QString initialRxText, bool showsCommands);

  // The expected reply. The main window's scan cycle changes it after each
  // request; the drag strip's is fixed.
  void setExpected(const QString& prefix, int bytes);
  const ReplyShape& expected() const { return expected_; }

  // Writes a command with its line end and switches the reply timer on.
  void SendCom(const QString& sendStr);
  // Writes a command with its line end, leaving the reply timer alone.
  bool writeLine(const QString& command);

  // Port notification: 2 appends what is waiting, 1 switches the timer on.
  void Comm1_OnComm(int kind);
  // The reply check; runs after every change of the reply buffer.
  void RxText_Change();
  // Reply timer expiry.
  void Timer1_Timer();

  const QString& rxText() const { return rxText_; }
  // Replaces the buffer (also for user edits of a visible buffer) and runs the check.
  void setRxText(const QString& text);
  const QString& txText() const { return txText_; }

  void stopTimer() { timer_->stop(); }
  bool timerActive() const { return timer_->isActive(); }
  Timer& timer() { return *timer_; }
  SerialPort& port() { return port_; }

  Hooks& hooks() { return hooks_; }

 private:
  SerialPort& port_;
  std::unique_ptr<Timer> timer_;
  ReplyShape expected_;
  QString rxText_;
  QString txText_;
  bool showsCommands_;
  Hooks hooks_;
};

}  // namespace tarvex
