#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include "core/clock.h"
#include "core/failure.h"
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
// The longest a command waits for the prompt of an adapter still answering
// the last one: more than an answer takes at the time-outs this program sets,
// and short of the second an adapter's longest time-out is.
inline constexpr Millis kBusyPatience{750};
// How long a reset may take until its banner and prompt: a genuine chip needs
// about a second, some clones more.
inline constexpr Millis kResetPatience{3000};

// The command/reply mechanism of every window that polls the adapter: a
// command goes out, everything received gathers in the reply buffer, every
// change of the buffer runs the reply check, and the reply timer gives up on a
// request after 150 ms. What follows a complete reply or a time-out is the
// owner's business (the scan's next request, the drag strip's next speed
// request).
//
// Where the link stands is one value that carries what that state needs; no
// other member decides what the link does. A failure of something the owner
// asked for comes back from that call; the hooks tell what the link notices on
// its own (a reply, a time-out, a write of its own timers that failed, a
// device that went away, an adapter that reset itself).
class AdapterLink {
 public:
  // Nothing outstanding; both timers are off.
  struct Idle {};
  // The set-up is going out, a line each kSetupWait: `left` still has to be
  // written; its last line goes out awaiting `last`. A banner now is the answer
  // to our own reset.
  struct SettingUp {
    QStringList left;
    ReplyShape last;
  };
  // A command is out and its reply timer runs. `ownReset`: the command closed
  // our own set-up, so a banner that comes late still answers our reset.
  // A reset (`command`) goes out once more if its first character only
  // stopped what the adapter still did for an earlier client; `resent` once
  // it did, or for any other command.
  struct Awaiting {
    ReplyCheck check;
    bool ownReset = false;
    QString command;
    bool resent = false;
  };
  // The adapter reset itself; the settings go out again, each after the last
  // one's prompt (or its time-out), and then the owner is told to go on. When
  // it said it restarts ("LV RESET"), the first prompt awaited is its banner's:
  // it hears nothing before, so nothing is written before.
  struct SettingUpAgain {
    QStringList left;
    ReplyCheck check;
  };
  using State = std::variant<Idle, SettingUp, Awaiting, SettingUpAgain>;

  // A complete reply: its data text as the check cut it, and the whole
  // buffer it was found in (echo, every line, the prompt).
  struct Reply {
    QString out;
    QString text;
  };
  struct Hooks {
    std::function<void(const Reply&)> onReply;
    std::function<void()> onTimeout;     // no complete reply in time
    FailureHandler onFault;              // the link stopped: the device failed
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
  // port's notifications and the timer's expiry here. The clock makes the
  // timer of the set-up's pauses.
  AdapterLink(SerialPort& port, Timer& replyTimer, Clock& clock, QString initialBuffer);
  ~AdapterLink();

  // Writes a command with its line end and switches the reply timer on,
  // awaiting `expected` (armed before the write: a write may bring the reply
  // at once). `reset`: the command resets the adapter, so its banner is the
  // answer and no sign that the adapter reset itself. While the adapter is
  // still answering the last line (it said something since, but not yet its
  // prompt), the command waits for that prompt, at most kBusyPatience: the
  // adapter would take its first character as an order to stop, and lose it.
  Status SendCom(const QString& command, ReplyShape expected, bool reset = false);
  // Writes a command with its line end, leaving the reply timer alone.
  Status writeLine(const QString& command);
  // Resets and sets the adapter up: the first line goes out now, each next one
  // kSetupWait after the one before, from the event loop; the last goes out as
  // SendCom awaiting `last`. Should the adapter later reset itself (its banner
  // arrives unasked), everything after the reset line goes out again before
  // the owner is told to go on.
  Status setUp(const QStringList& commands, ReplyShape last);
  // The set-up lines that go out again should the adapter reset itself, for a
  // set-up its owner sends line by line.
  void rememberSetUp(const QStringList& commands) { setup_ = commands; }
  // How long the reply timer gives the next command.
  void setPatience(Millis patience) { timer_.setInterval(patience); }
  // Nothing is outstanding any more; both timers are off.
  void stop();

  void onPortEvent(PortEvent event);
  // The reply timer's expiry. One that finds no command waiting belongs to an
  // earlier request (answered or stopped since) and is ignored.
  void onReplyTimeout();
  // Replaces the buffer (a user's edit of a visible buffer) and runs the check.
  void setBuffer(const QString& text);

  const State& state() const { return state_; }
  bool idle() const { return std::holds_alternative<Idle>(state_); }
  const QString& buffer() const { return buffer_; }
  QString deviceName() const { return port_.deviceName(); }
  Hooks& hooks() { return hooks_; }

 private:
  void bufferChanged(qsizetype newFrom);
  bool unaskedBanner(qsizetype from);
  bool restartAnnounced(qsizetype from) const;
  bool cutShort();
  void setUpAgain();
  Status nextSetupLine();
  Status await(const QString& command, ReplyShape expected, bool ownReset, bool mayResend);
  void nextSetupAgainLine();
  Status send(const QString& command);
  Status transmit(const QString& command);
  void release();
  void fault(const Failure& failure);
  ReplyCheck* check();

  SerialPort& port_;
  Timer& timer_;
  std::unique_ptr<Timer> pause_;  // the set-up's wait between lines
  std::unique_ptr<Timer> hold_;   // the longest a command waits for a busy adapter's prompt
  bool heard_ = false;            // the adapter said something since the last line went out
  bool prompted_ = true;          // ... and its prompt came
  std::optional<QString> held_;   // a command waiting for that prompt
  QString buffer_;
  State state_;
  QStringList setup_;  // the lines of the last set-up, for setting up again
  Hooks hooks_;
};

}  // namespace tarvex
