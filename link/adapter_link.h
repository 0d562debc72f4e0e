#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "link/clock.h"
#include "link/reply_check.h"
#include "link/serial_port.h"

namespace tarvex {

inline constexpr Millis kReplyTimeout{150};
// Every command line ends with a carriage return alone: an adapter that is
// still working on a request takes any character that follows, a line feed
// too, as an order to stop.
inline constexpr char kLineEnd[] = "\r";

// The adapter set-up: reset, echo on, for the enhanced requests the engine
// controller's header, and the adapter's answer time-out (64 ms).
enum class Setup { kEnhanced, kStandard };
QStringList setupCommands(Setup setup);
inline constexpr char kResetCommand[] = "ATZ";
// The reset and each setting but the last get this long before the next line.
inline constexpr Millis kSetupWait{1000};

// The command/reply mechanism of every window that polls the adapter: a
// command goes out, everything received gathers in the reply buffer, every
// change of the buffer runs the reply check, and the reply timer gives up on a
// request after 150 ms. What follows a complete reply, a time-out or a port
// fault is the owner's business (the scan's next request, the drag strip's
// next speed request, stopping).
class AdapterLink {
 public:
  enum class State {
    kIdle,            // nothing outstanding; the reply timer is off
    kAwaitingReply,   // a command is out and its reply timer runs
    kSettingUpAgain,  // the adapter reset itself; its settings go out again, each
                      // after the last one's prompt (or time-out)
  };

  struct Hooks {
    std::function<void(const QString& out)> onReply;  // a complete reply's data text
    std::function<void()> onTimeout;                  // no complete reply in time
    std::function<void(const QString& reason)> onPortError;
    std::function<void()> onSetUpAgain;  // the adapter is set up again after resetting itself
    std::function<void(const QString& buffer)> onBufferChanged;
    std::function<void(const QString& command)> onCommandSent;
  };

  // What an adapter prints when it starts, after ATZ or after a supply dip.
  static constexpr char kBanner[] = "ELM327";

  // The buffer never grows beyond this: when it would, the oldest text goes.
  // No reply is longer than a few dozen characters.
  static constexpr qsizetype kMaxBuffer = 16 * 1024;

  // The port and the reply timer belong to the window; the owner routes the
  // port's notifications and the timer's expiry here.
  AdapterLink(SerialPort& port, Timer& replyTimer, ReplyShape expected, QString initialBuffer);

  // Writes a command with its line end and switches the reply timer on. With
  // an expected reply, that is set first: a write may bring the reply at once.
  // False when the write failed; the port error has been raised then.
  bool SendCom(const QString& command);
  bool SendCom(const QString& command, ReplyShape expected);
  // Writes a command with its line end, leaving the reply timer alone.
  bool writeLine(const QString& command);
  // Resets and sets the adapter up: every command but the last is written with
  // a blocking wait after it, the last goes out through SendCom. Should the
  // adapter later reset itself (its banner arrives unasked), everything after
  // the reset command goes out again before the owner is told to go on.
  bool setUp(const QStringList& commands, Clock& clock);
  // Switches the reply timer off; nothing is outstanding any more.
  void stop();

  void onPortEvent(PortEvent event);
  void onReplyTimeout();
  // Replaces the buffer (a user's edit of a visible buffer) and runs the check.
  void setBuffer(const QString& text);

  State state() const { return state_; }
  const ReplyShape& expected() const { return check_.shape(); }
  const QString& buffer() const { return buffer_; }
  SerialPort& port() { return port_; }
  Hooks& hooks() { return hooks_; }

 private:
  void bufferChanged();
  bool failed();
  bool send(const QString& command);
  bool bannerArrived();
  void setUpAgain();
  void nextSetupCommand();

  SerialPort& port_;
  Timer& timer_;
  ReplyCheck check_;
  QString buffer_;
  State state_ = State::kIdle;
  Hooks hooks_;
  QStringList setup_;         // the commands of the last set-up
  QStringList setupLeft_;     // what still has to go out again
  ReplyShape ownerShape_;     // the owner's expected reply, while setting up again
  bool ownReset_ = false;     // the banner to come answers our own reset
  bool inSetUp_ = false;      // setUp() is writing
  qsizetype bannerFrom_ = 0;  // the buffer holds no banner before here
};

}  // namespace tarvex
