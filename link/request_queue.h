#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

#include "core/clock.h"
#include "core/failure.h"
#include "link/adapter_link.h"
#include "link/adapter_words.h"
#include "link/serial_port.h"

namespace tarvex {

// One request to the adapter and how to treat it.
struct Request {
  QString command;  // without line end or count digit: "010C0D"
  // Answers expected (one a controller): sent as the count digit where the
  // adapter takes it, so it prints its prompt at the last answer instead of
  // listening out its time-out. 0: unknown, no digit.
  int answers = 0;
  Millis patience{1000};  // the longest wait for the whole answer
  int retries = 0;        // asked again after STOPPED or silence
  // A reply check of its own (the GM scan's prefix and byte count); the
  // answer is then handed over as the check cut it, unjudged. Otherwise the
  // answer is what follows the request's echo, up to the prompt.
  std::optional<ReplyShape> shape;
  // ATZ, ATWS, ATI: the adapter's banner ("ELM327 v1.5") is the answer, no
  // sign that the adapter reset itself.
  bool resets = false;
};

struct Reply {
  QString sent;  // the command as it went out (count digit included)
  QString text;  // after the echo, up to the prompt; with a shape the whole buffer
  QString out;   // with a shape: the data text the check cut
  // The lines of the text that carry something: no blank lines, no prompt, no
  // progress ("SEARCHING...", "BUS INIT: ...OK").
  QStringList lines;
  Micros sentAt{0};
  Micros at{0};
};

using ReplyHandler = std::function<void(const Result<Reply>&)>;

// The requests of one window, one at a time over its adapter link: each ends
// in a reply or a failure, handed to its own handler. Without a shape of its
// own, an answer made only of the adapter's words is a failure naming the
// word (kNoAnswer for "NO DATA", kAdapter for the others), as is one that
// carries a word beside data (a checksum error, a full buffer): such data is
// not to be trusted. Nothing at all in time is kSilent. STOPPED and silence are
// asked again as often as the request allows; a count digit the adapter does
// not know is dropped, for good, and the request asked again without it.
class RequestQueue {
 public:
  RequestQueue(AdapterLink& link, Clock& clock, AdapterTraits& traits);
  ~RequestQueue();

  // Queued behind what is waiting; goes out at once when nothing is.
  void send(Request request, ReplyHandler done);
  // Forgets every request, the one out included: no handler is called.
  void clear();
  // The request out goes out again (the adapter was set up again meanwhile).
  void resend();
  // Asked by the link's owner when it is free to send (after a set-up).
  void resume();

  bool busy() const { return current_.has_value() || !waiting_.empty(); }
  AdapterTraits& traits() { return traits_; }

  // The link's hooks, routed here by its owner.
  void onReply(const AdapterLink::Reply& reply);
  void onTimeout();

 private:
  struct Entry {
    Request request;
    ReplyHandler done;
    int triesLeft = 0;
    QString sent;
    Micros sentAt{0};
  };

  void next();
  void transmit();
  void finish(const Result<Reply>& result);
  bool again();

  AdapterLink& link_;
  Clock& clock_;
  AdapterTraits& traits_;
  std::deque<Entry> waiting_;
  std::optional<Entry> current_;
  int generation_ = 0;  // counts clear()s, so a handler that cleared is noticed
};

// The lines of an adapter's text that carry something (see Reply::lines).
QStringList meaningfulLines(const QString& text);

}  // namespace tarvex
