#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "core/clock.h"
#include "link/polling_session.h"

namespace tarvex {

// The trouble-code window without its widgets: it resets the adapter when the
// window opens, sends the two trouble-code services on request, and gathers
// everything the adapter answers, unparsed, in one output text.
class DTCSession {
 public:
  // The output keeps at most this many characters, the newest; the oldest go.
  // Far more than any trouble-code answer, so only a long session trims it.
  static constexpr qsizetype kMaxOutput = 64 * 1024;
  // The window is told of new output at most this often: showing the text
  // costs in proportion to all of it, and an adapter gone wild may send a
  // character a millisecond, or megabytes.
  static constexpr Millis kShowEvery{100};
  // ... and a show that took long waits this many times as long for the next,
  // so that showing takes a small share of the time even with the box full
  // (64 KiB take a line edit some 20 ms).
  static constexpr int kShowPause = 20;

  // The port and the (unarmed) reply timer belong to the window, which routes
  // the port's notifications to onPortEvent(). initialOutput: what the output
  // shows before any answer.
  DTCSession(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits, QString initialOutput);
  ~DTCSession();

  // Opens the port and resets the adapter. A failure comes back; the port is
  // closed then.
  Status open();
  // Read DTC ("03") and Reset DTC ("04"). A port that is not open is opened
  // first (another program may have let go of it, or the adapter is back).
  Status sendRead();
  Status sendReset();
  void close();

  // A receive notification appends what is waiting; a port error closes the
  // port and is told to the failure handler.
  void onPortEvent(PortEvent event);
  void setFailureHandler(FailureHandler handler) { session_.setFailureHandler(std::move(handler)); }

  // The newest kMaxOutput characters. Costs a copy of them once the session
  // has trimmed anything: ask when showing, not for every arrival.
  QString output() const;
  // The user edited the box: later text is appended to the edited text.
  void setOutput(const QString& text);
  // Called when the output changed: at once if nothing was told for a while
  // (kShowEvery, or kShowPause times as long as the last call took), else once
  // that time is up, with all that came meanwhile.
  void setOutputChanged(std::function<void()> callback) { outputChanged_ = std::move(callback); }

 private:
  void append(const QString& text);
  void showPending();
  void show();

  PollingSession session_;
  Clock& clock_;
  // The output, with up to kMaxOutput older characters before it: cutting
  // them away only when that many have gathered keeps an arrival's cost to
  // its own length.
  QString output_;
  std::unique_ptr<Timer> showTimer_;
  bool showPending_ = false;
  qsizetype unshown_ = 0;  // characters at the end of output_ the window was not told of
  std::function<void()> outputChanged_;
};

// The adapter's bytes as the output shows them: Latin-1, with NULs left out
// (they carry nothing, and a text box handles them badly) and every other
// control character but tab, line feed and carriage return shown as U+FFFD.
// Only the last `keep` characters are made.
QString outputText(const QByteArray& bytes, qsizetype keep);

}  // namespace tarvex
