#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/failure.h"
#include "link/polling_session.h"
#include "obd/answer.h"

namespace tarvex {

// An answer of the car, read into each controller's message.
struct CarAnswer {
  std::vector<obd::Message> messages;
  Reply reply;
};

// The conversation with any OBD-II car, shared by every window and command
// that reads standard data: the adapter reset and set up with echo and
// headers on and the protocol search, each line waiting for its prompt; the
// search run on "0100", which every car answers; then the protocol as the
// adapter names it (ATDPN), or as it spells it (ATDP) for an adapter that
// refuses ATDPN, or as the answer's form tells. An adapter that ignores ATH1 is
// read as one controller without an address.
class CarLink {
 public:
  // How long the first request may take: it runs the adapter's protocol
  // search, which goes through every protocol and may take many seconds.
  static constexpr Millis kSearchPatience{20000};
  // An answer of every controller: several hundred milliseconds on the older
  // buses, and the adapter's own time-out after the last one.
  static constexpr Millis kAnswerPatience{3000};

  CarLink(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
          QString initialBuffer = QString());
  ~CarLink();
  CarLink(const CarLink&) = delete;
  CarLink& operator=(const CarLink&) = delete;

  // Sets the adapter up (with `extra` lines after the standard ones), runs
  // the search and learns the protocol. `done`: the protocol, or why not: a
  // line of the set-up that failed, the search's failure in the adapter's
  // words ("UNABLE TO CONNECT"), or silence.
  void connect(const QList<SetupLine>& extra, std::function<void(const Result<obd::Protocol>&)> done);
  // A request to the car once connected. A failure: the adapter's word, NO
  // DATA (kNoAnswer), silence, every controller refusing (kRefused, with its
  // code), an answer that cannot be read, or a message with a frame missing
  // (kBroken): nothing of a broken answer is handed on.
  void ask(Request request, std::function<void(const Result<CarAnswer>&)> done);
  // The search's answer to 0100, read once the protocol was known.
  const std::vector<obd::Message>& searchAnswer() const { return search_; }
  void stop();

  void setFailureHandler(FailureHandler handler) { session_.setFailureHandler(std::move(handler)); }
  const std::optional<obd::Protocol>& protocol() const { return protocol_; }
  obd::Bus bus() const { return protocol_ ? protocol_->bus : obd::Bus::kLegacy; }
  bool connected() const { return protocol_.has_value(); }
  PollingSession& session() { return session_; }

  // The messages of an adapter's text, as this link reads them.
  Result<std::vector<obd::Message>> read(const Reply& reply, const QString& request);

 private:
  void searched(const Result<Reply>& reply);
  void askProtocol(const QString& command);
  void learnt(std::optional<obd::Protocol> protocol);

  PollingSession session_;
  std::optional<obd::Protocol> protocol_;
  Reply searchReply_;
  std::vector<obd::Message> search_;
  std::function<void(const Result<obd::Protocol>&)> connected_;
  int run_ = 0;
};

// The set-up every standard-data window sends, after its reset line.
QList<SetupLine> carSetup(const QString& device);

}  // namespace tarvex
