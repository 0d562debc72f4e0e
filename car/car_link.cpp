#include "car/car_link.h"

namespace tarvex {

QList<SetupLine> carSetup(const QString& device) {
  // Echo on: an answer is known by the echo of its request, whatever came
  // before it. Headers on: each controller is known by its address.
  return {{resetCommandFor(device)},
          {QStringLiteral("ATE1")},
          {QStringLiteral("ATH1")},
          {QStringLiteral("ATSP0")}};
}

CarLink::CarLink(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits,
                 QString initialBuffer)
    : session_(port, replyTimer, clock, traits, std::move(initialBuffer)) {}

CarLink::~CarLink() {
  session_.setFailureHandler({});
  stop();
}

void CarLink::stop() {
  ++run_;
  connected_ = nullptr;
  protocol_.reset();  // a fresh set-up searches again
  session_.stop();
}

void CarLink::connect(const QList<SetupLine>& extra, std::function<void(const Result<obd::Protocol>&)> done) {
  stop();
  protocol_.reset();
  search_.clear();
  connected_ = std::move(done);
  const int run = run_;
  const Status started =
      session_.start(carSetup(session_.port().deviceName()) + extra, [this, run](const Status& setUp) {
        if (run != run_) return;
        if (!setUp) {
          if (auto told = std::exchange(connected_, nullptr)) told(setUp.failure());
          return;
        }
        session_.send(Request{QStringLiteral("0100"), 0, kSearchPatience, 0, std::nullopt, false},
                      [this, run](const Result<Reply>& reply) {
                        if (run == run_) searched(reply);
                      });
      });
  if (!started)
    if (auto d = std::exchange(connected_, nullptr)) d(started.failure());
}

void CarLink::searched(const Result<Reply>& reply) {
  if (!reply) {
    if (auto done = std::exchange(connected_, nullptr)) done(reply.failure());
    return;
  }
  searchReply_ = *reply;
  const QString question = QStringLiteral("ATDPN");
  askProtocol(session_.traits().refused.contains(question) ? QStringLiteral("ATDP") : question);
}

void CarLink::askProtocol(const QString& command) {
  const int run = run_;
  session_.send(Request{command, 0, kAnswerPatience, 0, std::nullopt, false},
                [this, run, command](const Result<Reply>& reply) {
                  if (run != run_) return;
                  const QString line = reply ? reply->lines.value(0) : QString();
                  const bool byNumber = command == QLatin1String("ATDPN");
                  if (reply) return learnt(byNumber ? obd::protocolFromDpn(line) : obd::protocolFromDp(line));
                  if (portFailed(reply.failure())) {
                    if (auto done = std::exchange(connected_, nullptr)) done(reply.failure());
                    return;
                  }
                  // A clone that does not know ATDPN may still know ATDP.
                  if (byNumber && reply.failure().reason == QLatin1String("?")) {
                    session_.traits().refused.insert(command);
                    return askProtocol(QStringLiteral("ATDP"));
                  }
                  learnt(std::nullopt);
                });
}

void CarLink::learnt(std::optional<obd::Protocol> protocol) {
  if (!protocol)
    if (const std::optional<obd::Bus> bus = obd::busFromAnswer(searchReply_.lines))
      protocol = obd::guessedProtocol(*bus);
  protocol_ = protocol.value_or(obd::guessedProtocol(obd::Bus::kLegacy));
  const Result<std::vector<obd::Message>> messages = read(searchReply_, QStringLiteral("0100"));
  if (messages) search_ = *messages;
  if (auto done = std::exchange(connected_, nullptr)) done(*protocol_);
}

Result<std::vector<obd::Message>> CarLink::read(const Reply& reply, const QString& request) {
  AdapterTraits& traits = session_.traits();
  obd::Answer answer = obd::parseAnswer(reply.text, bus(), !traits.headersIgnored);
  if (answer.messages.empty() && !traits.headersIgnored) {
    // ATH1 was taken and ignored: the answers come without addresses.
    obd::Answer plain = obd::parseAnswer(reply.text, bus(), false);
    if (!plain.messages.empty()) {
      traits.headersIgnored = true;
      answer = std::move(plain);
    }
  }
  const QString device = session_.port().deviceName();
  if (answer.messages.empty()) return Failure{Failure::Kind::kBroken, device, answer.notes.value(0), request};
  std::vector<obd::Message> kept;
  QString refusal;
  for (obd::Message& m : answer.messages) {
    if (!m.complete)
      return Failure{Failure::Kind::kBroken, device, QStringLiteral("a frame is missing"), request};
    // A negative answer: 7F, the service refused, and why.
    if (m.data.size() >= 3 && m.data[0] == 0x7F) {
      refusal = QString::asprintf("%02X", m.data[2]);
      continue;
    }
    kept.push_back(std::move(m));
  }
  if (kept.empty()) return Failure{Failure::Kind::kRefused, device, refusal, request};
  return kept;
}

void CarLink::ask(Request request, std::function<void(const Result<CarAnswer>&)> done) {
  const int run = run_;
  const QString command = request.command;
  session_.send(std::move(request), [this, run, command, done](const Result<Reply>& reply) {
    if (run != run_) return;
    if (!reply) return done(reply.failure());
    Result<std::vector<obd::Message>> messages = read(*reply, command);
    if (!messages) return done(messages.failure());
    done(CarAnswer{std::move(messages.value()), *reply});
  });
}

}  // namespace tarvex
