#include "sim/sim_adapter.h"

#include <algorithm>

#include "sim/obd_services.h"

namespace tarvex::sim {

namespace {

// The adapter's input buffer: a longer line is refused with "?".
constexpr int kLineLimit = 128;
// The adapter's small buffers: what a flood brings beyond them is lost, as on
// the device, instead of piling up here.
constexpr std::size_t kInputLimit = 4096;   // characters on their way in, not yet taken in
constexpr std::size_t kOutputLimit = 4096;  // characters waiting to go out
// Time a protocol search takes before the first answer in automatic mode.
constexpr Millis kSearchTime{250};
// Time a failed bus initialisation of a wrong protocol takes.
constexpr Millis kBusInitTime{2500};
constexpr Millis kTimeoutUnit{4};
constexpr int kDefaultTimeoutUnits = 0x32;

const QByteArray kPhysicalHeader = QByteArray::fromHex("6C10F1");
const QByteArray kFunctionalHeader = QByteArray::fromHex("686AF1");
const QByteArray kPhysicalReply = QByteArray::fromHex("6CF110");
const QByteArray kFunctionalReply = QByteArray::fromHex("486B10");
// On CAN, three digits of ATSH: the functional address or one controller's.
const QByteArray kCanFunctional = QByteArray::fromHex("0007DF");
const QByteArray kCanEngine = QByteArray::fromHex("0007E0");
const QByteArray kCanTransmission = QByteArray::fromHex("0007E1");
// Each controller answers at its request address plus 8.
constexpr std::uint16_t kCanReplyBase = 0x7E8;

}  // namespace

std::uint8_t j1850Crc(const QByteArray& bytes) {
  std::uint8_t crc = 0xFF;
  for (char ch : bytes) {
    crc ^= std::uint8_t(ch);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80) ? std::uint8_t((crc << 1) ^ 0x1D) : std::uint8_t(crc << 1);
  }
  return std::uint8_t(~crc);
}

namespace {

bool isHex(const QByteArray& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

QByteArray protocolName(int protocol) {
  static const char* kNames[] = {"AUTO",
                                 "SAE J1850 PWM",
                                 "SAE J1850 VPW",
                                 "ISO 9141-2",
                                 "ISO 14230-4 (KWP 5BAUD)",
                                 "ISO 14230-4 (KWP FAST)",
                                 "ISO 15765-4 (CAN 11/500)",
                                 "ISO 15765-4 (CAN 29/500)",
                                 "ISO 15765-4 (CAN 11/250)",
                                 "ISO 15765-4 (CAN 29/250)",
                                 "SAE J1939 (CAN 29/250)",
                                 "USER1 (CAN 11/125)",
                                 "USER2 (CAN 11/50)"};
  return kNames[protocol];
}

}  // namespace

SimAdapter::SimAdapter(Vehicle& vehicle, Micros engineStart, SimAdapterConfig config)
    : vehicle_(vehicle), engineStart_(engineStart), config_(config), rng_(config.seed), clock_(engineStart) {
  inputLineFree_ = outputLineFree_ = engineStart;
  // The GM car's adapter was left on its protocol; the other one is fresh, on automatic search.
  protocol_ = vehicle.config().car == Car::Can ? 0 : 2;
}

int SimAdapter::carProtocol() const {
  return vehicle_.config().car == Car::Can ? 6 : 2;
}

void SimAdapter::receive(const QByteArray& bytes, Micros at) {
  advanceTo(at);
  at = std::max(at, clock_);
  if (deafAt(at)) return;
  const Micros c = config_.timing.charTime();
  for (char ch : bytes) {
    if (input_.size() >= kInputLimit) break;
    const Micros arrival = std::max(at, inputLineFree_) + c;
    inputLineFree_ = arrival;
    input_.push_back({arrival, ch});
  }
}

void SimAdapter::receiveAtWrongSpeed(const QByteArray& bytes, Micros at) {
  QByteArray garbled;
  for (char c : bytes) garbled.append(c == '\r' ? c : char(0x80 | ((c * 7 + 3) & 0x7F)));
  receive(garbled, at);
}

QByteArray SimAdapter::heardAtAnotherSpeed(const QByteArray& sent) {
  QByteArray heard;
  for (char c : sent) heard.append(char(0x80 | ((c * 5 + 1) & 0x7F)));
  return heard;
}

QByteArray SimAdapter::takeOutputDue(Micros now) {
  advanceTo(now);
  QByteArray out;
  while (!output_.empty() && output_.front().due <= now) {
    out.append(output_.front().c);
    lastTaken_ = output_.front().c;
    output_.pop_front();
  }
  return out;
}

std::optional<Micros> SimAdapter::nextEventTime() const {
  std::optional<Micros> next;
  if (!input_.empty()) next = input_.front().arrival;
  if (!output_.empty()) next = next ? std::min(*next, output_.front().due) : output_.front().due;
  return next;
}

// Nothing more goes out after `at`, and nothing on its way in is heard.
void SimAdapter::fallSilent(Micros at) {
  std::erase_if(output_, [&](const OutByte& b) { return b.due > at; });
  input_.clear();
}

bool SimAdapter::deafAt(Micros at) const {
  return (vanishedAt_ && *vanishedAt_ <= at) || (stalledAt_ && *stalledAt_ <= at);
}

void SimAdapter::advanceTo(Micros now) {
  while (!input_.empty() && input_.front().arrival <= now) {
    const InByte b = input_.front();
    input_.pop_front();
    processByte(b.c, b.arrival);
  }
  clock_ = std::max(clock_, now);
}

Micros SimAdapter::lastScheduled() const {
  return output_.empty() ? outputLineFree_ : output_.back().due;
}

bool SimAdapter::roll(double share) {
  const double u = double(rng_() >> 11) / double(1ull << 53);
  return u < share;
}

void SimAdapter::emitAt(Micros ready, const QByteArray& text, bool answer) {
  if (config_.faults.silent || vanishedAt_ || stalledAt_) return;
  const Micros c = config_.timing.charTime();
  auto put = [&](char ch) {
    if (output_.size() >= kOutputLimit) return;
    outputLineFree_ = std::max(ready, outputLineFree_) + c;
    output_.push_back({outputLineFree_, ch, answer});
  };
  for (char ch : text) {
    put(ch);
    if (ch == '\r' && settings_.linefeeds) put('\n');
  }
}

void SimAdapter::answer(Micros ready, const QList<QByteArray>& lines, bool isRequest) {
  QByteArray text;
  for (const QByteArray& line : lines) text += line + '\r';
  text += "\r>";
  emitAt(ready, text, isRequest);
  if (isRequest) requestBusyUntil_ = lastScheduled();
}

void SimAdapter::processByte(char c, Micros at) {
  if (deafAt(at)) return;
  if (c == '\n') {
    if (lineFeedObserver_) lineFeedObserver_();
    return;
  }
  if (at < resettingUntil_) return;  // lost while the adapter restarts
  if (at < requestBusyUntil_) {
    // Any character stops a request in progress; the character itself is lost.
    interrupt(at);
    return;
  }
  if (settings_.echo) emitAt(at, QByteArray(1, c), false);
  if (c == '\r') {
    const QByteArray line = line_;
    line_.clear();
    handleLine(line, at);
    return;
  }
  if (line_.size() <= kLineLimit) line_.append(c);
}

void SimAdapter::interrupt(Micros at) {
  while (!output_.empty() && output_.back().answer && output_.back().due > at) output_.pop_back();
  outputLineFree_ = output_.empty() ? std::min(outputLineFree_, at) : output_.back().due;
  requestBusyUntil_ = Micros{-1};
  const char last = output_.empty() ? lastTaken_ : output_.back().c;
  QByteArray text = (last == '\r' || last == '\n' || last == '\0') ? QByteArray() : QByteArray("\r");
  text += "STOPPED\r\r>";
  emitAt(at, text, false);
}

// `notice` goes out at once, before the adapter goes quiet.
void SimAdapter::restart(Micros at, const QByteArray& notice) {
  std::erase_if(output_, [&](const OutByte& b) { return b.answer && b.due > at; });
  outputLineFree_ = output_.empty() ? std::min(outputLineFree_, at) : output_.back().due;
  emitAt(at, notice, false);
  requestBusyUntil_ = Micros{-1};
  settings_ = Settings{};
  protocolFound_ = false;
  line_.clear();
  lastCommand_.clear();
  resettingUntil_ = at + config_.timing.resetTime;
  emitAt(resettingUntil_, QByteArray("\r\r") + kVersion + "\r\r>", false);
}

void SimAdapter::handleLine(const QByteArray& raw, Micros at) {
  ++faultLines_;
  if (observer_) observer_(raw);

  const SimFaults& f = config_.faults;
  if (f.vanishAfter > 0 && faultLines_ >= f.vanishAfter) {
    vanishedAt_ = at;
    return fallSilent(at);
  }
  if (f.stallAfter > 0 && faultLines_ >= f.stallAfter) {
    stalledAt_ = at;
    return fallSilent(at);
  }
  if (f.resetEvery > 0 && faultLines_ % f.resetEvery == 0) {
    restart(at);
    return;
  }
  if (f.lvResetEvery > 0 && faultLines_ % f.lvResetEvery == 0) {
    restart(at, "LV RESET\r");
    return;
  }
  if (raw.size() > kLineLimit) {
    answer(at + config_.timing.turnaround, {"?"}, false);
    return;
  }
  // Blanks and control characters mean nothing inside a command; case neither.
  QByteArray cmd;
  for (char ch : raw) {
    if (std::uint8_t(ch) <= ' ') continue;
    cmd.append(ch >= 'a' && ch <= 'z' ? char(ch - 'a' + 'A') : ch);
  }
  if (cmd.isEmpty()) {
    // An empty line repeats the last command.
    if (lastCommand_.isEmpty()) {
      answer(at + config_.timing.turnaround, {}, false);
      return;
    }
    cmd = lastCommand_;
  }
  lastCommand_ = cmd;
  handleCommand(cmd, at);
}

void SimAdapter::handleCommand(const QByteArray& cmd, Micros at) {
  if (cmd.startsWith("AT")) {
    handleAt(cmd.mid(2), at);
  } else {
    handleRequest(cmd, at);
  }
}

void SimAdapter::handleAt(const QByteArray& cmd, Micros at) {
  const Micros ready = at + config_.timing.turnaround;
  auto reply = [&](const QByteArray& text) { answer(ready, {text}, false); };
  auto flag = [&](const char* name, bool& setting) {
    const QByteArray n(name);
    if (cmd == n + "0" || cmd == n + "1") {
      setting = cmd.endsWith('1');
      reply("OK");
      return true;
    }
    return false;
  };
  bool unused = false;
  if (cmd == "Z" || cmd == "WS") {
    restart(at);
  } else if (cmd == "D") {
    settings_ = Settings{};
    reply("OK");
  } else if (cmd == "I") {
    reply(kVersion);
  } else if (cmd == "@1") {
    reply("OBDII to RS232 Interpreter");
  } else if (cmd == "RV") {
    const double volts = vehicle_.stateAt(std::chrono::duration_cast<Millis>(at - engineStart_)).batteryVolts;
    reply(QByteArray::number(volts, 'f', 1) + "V");
  } else if (cmd == "DP") {
    if (protocol_ == 0) {
      reply(protocolFound_ ? QByteArray("AUTO, ") + protocolName(carProtocol()) : protocolName(0));
    } else {
      reply(protocolName(protocol_));
    }
  } else if (cmd == "DPN") {
    if (protocol_ == 0) {
      reply(protocolFound_ ? "A" + QByteArray::number(carProtocol()) : QByteArray("0"));
    } else {
      reply(QByteArray::number(protocol_, 16).toUpper());
    }
  } else if (flag("E", settings_.echo) || flag("L", settings_.linefeeds) || flag("S", settings_.spaces) ||
             flag("H", settings_.headers) || flag("M", unused) || flag("R", unused) ||
             flag("CAF", settings_.canAutoFormat)) {
  } else if (cmd == "AT0" || cmd == "AT1" || cmd == "AT2" || cmd == "PC" || cmd == "AL" || cmd == "NL") {
    reply("OK");
  } else if (cmd.startsWith("ST") && cmd.size() == 4 && isHex(cmd.mid(2))) {
    const int units = cmd.mid(2).toInt(nullptr, 16);
    settings_.timeoutUnits = units == 0 ? kDefaultTimeoutUnits : units;
    reply("OK");
  } else if (cmd.startsWith("SH") && (cmd.size() == 5 || cmd.size() == 8) && isHex(cmd.mid(2))) {
    // Three digits are an 11-bit CAN identifier; the J1850 car will not hear it.
    QByteArray digits = cmd.mid(2);
    if (digits.size() == 3) digits.prepend("000");
    settings_.header = QByteArray::fromHex(digits);
    reply("OK");
  } else if ((cmd.startsWith("SP") || cmd.startsWith("TP")) && (cmd.size() == 3 || cmd.size() == 4)) {
    QByteArray digit = cmd.mid(2);
    if (digit.size() == 2) {
      if (digit[0] != 'A') return reply("?");
      digit = digit.mid(1);
    }
    bool ok = false;
    const int p = digit.toInt(&ok, 16);
    if (!ok || p > 12) return reply("?");
    protocol_ = cmd.size() == 4 ? 0 : p;
    protocolFound_ = false;
    reply("OK");
  } else {
    reply("?");
  }
}

QByteArray SimAdapter::formatFrame(const QByteArray& header, const QByteArray& data) const {
  QByteArray bytes = data;
  if (settings_.headers) {
    bytes = header + data;
    bytes.append(char(j1850Crc(bytes)));
  }
  return hexText(bytes);
}

QByteArray SimAdapter::hexText(const QByteArray& bytes) const {
  QByteArray text;
  for (char b : bytes) {
    text += QByteArray::number(std::uint8_t(b), 16).rightJustified(2, '0').toUpper();
    if (settings_.spaces) text += ' ';
  }
  return text;
}

// One controller's message as the adapter prints it on CAN: in ISO 15765-2 frames (a single
// frame up to seven bytes, else a first frame and consecutive ones of eight bytes, the last
// padded). Formatting on and headers off, a long message shows as its byte count, then its
// frames numbered "0:", "1:" ...; otherwise every frame is shown with its protocol bytes, after
// its identifier when headers are on.
QList<QByteArray> SimAdapter::canLines(std::uint16_t id, const QByteArray& data) const {
  const QByteArray sep = settings_.spaces ? QByteArray(" ") : QByteArray();
  const QByteArray idText = QByteArray::number(id, 16).toUpper() + sep;
  const bool raw = settings_.headers || !settings_.canAutoFormat;
  auto rawLine = [&](QByteArray frame) {
    if (!settings_.canAutoFormat) frame.append(QByteArray(8 - frame.size(), '\0'));  // as on the bus
    return (settings_.headers ? idText : QByteArray()) + hexText(frame);
  };
  if (data.size() <= 7) return {raw ? rawLine(char(data.size()) + data) : hexText(data)};

  QList<QByteArray> lines;
  const qsizetype n = data.size();
  if (raw) {
    QByteArray first;
    first.append(char(0x10 | ((n >> 8) & 0x0F)));
    first.append(char(n & 0xFF));
    lines.append(rawLine(first + data.left(6)));
  } else {
    lines.append(QByteArray::number(n, 16).toUpper().rightJustified(3, '0'));
    lines.append("0:" + sep + hexText(data.left(6)));
  }
  int index = 1;
  for (qsizetype i = 6; i < n; i += 7, ++index) {
    QByteArray chunk = data.mid(i, 7);
    chunk.append(QByteArray(7 - chunk.size(), '\0'));
    if (raw) {
      lines.append(rawLine(char(0x20 | (index & 0x0F)) + chunk));
    } else {
      lines.append(QByteArray::number(index & 0x0F, 16).toUpper() + ":" + sep + hexText(chunk));
    }
  }
  return lines;
}

// The answer lines of the car to a request, before the adapter adds its own.
QList<QByteArray> SimAdapter::carFrames(const QByteArray& request, Millis vehicleTime) {
  QList<QByteArray> frames;
  const std::uint8_t service = std::uint8_t(request[0]);
  const QByteArray& h = settings_.header;
  if (vehicle_.config().car == Car::Can) {
    std::vector<Ecu> addressed;
    const bool functional = h == kFunctionalHeader || h == kCanFunctional;
    if (functional || h == kCanEngine) addressed.push_back(Ecu::Engine);
    if (functional || h == kCanTransmission) addressed.push_back(Ecu::Transmission);
    for (const EcuMessage& m : standardAnswers(vehicle_, request, vehicleTime, addressed))
      frames += canLines(std::uint16_t(kCanReplyBase + (m.ecu == Ecu::Engine ? 0 : 1)), m.data);
    return frames;
  }
  const bool physical = h == kPhysicalHeader;
  if (!physical && h != kFunctionalHeader) return frames;
  const QByteArray replyHeader = physical ? kPhysicalReply : kFunctionalReply;
  if (service == 0x22) {
    if (!physical || request.size() < 3) return frames;
    const std::uint16_t id = std::uint16_t((std::uint8_t(request[1]) << 8) | std::uint8_t(request[2]));
    if (auto data = vehicle_.enhancedData(id, vehicleTime)) {
      frames.append(formatFrame(replyHeader, QByteArray(1, char(0x62)) + request.mid(1, 2) + *data));
    } else {
      frames.append(formatFrame(replyHeader, QByteArray::fromHex("7F2231")));
    }
    return frames;
  }
  const Ecu engine[] = {Ecu::Engine};
  for (const EcuMessage& m : standardAnswers(vehicle_, request, vehicleTime, engine))
    frames.append(formatFrame(replyHeader, m.data));
  return frames;
}

void SimAdapter::handleRequest(const QByteArray& cmd, Micros at) {
  QByteArray digits = cmd;
  if (!isHex(digits)) return answer(at + config_.timing.turnaround, {"?"}, false);
  if (digits.size() % 2 == 1) digits.chop(1);  // a trailing digit is the count of answers expected
  const QByteArray request = QByteArray::fromHex(digits);
  if (request.isEmpty() || request.size() > 7) return answer(at + config_.timing.turnaround, {"?"}, false);

  const SimTiming& t = config_.timing;
  const SimFaults& f = config_.faults;
  Micros ready = at + t.turnaround;
  const Micros timeout = settings_.timeoutUnits * kTimeoutUnit;
  const std::int64_t spread = std::max<std::int64_t>(0, Micros(t.latencyMax - t.latencyMin).count());
  const Micros latency = Micros(t.latencyMin) + Micros(std::int64_t(rng_() % std::uint64_t(spread + 1)));
  const bool drop = roll(f.dropShare);
  const bool late = roll(f.lateShare);
  const bool twice = roll(f.twiceShare);
  const bool inject = f.inject != Injection::None && roll(f.injectShare);

  if (protocol_ != 0 && protocol_ != carProtocol()) {
    // Nobody on the bus speaks the protocol asked for.
    if (protocol_ >= 3 && protocol_ <= 5) return answer(ready + kBusInitTime, {"BUS INIT: ...ERROR"}, true);
    // A CAN at another speed than the car's gets no acknowledgement.
    const bool canAtOurSpeed = carProtocol() == 6 && protocol_ == 7;
    if (protocol_ >= 6 && !canAtOurSpeed) return answer(ready + timeout, {"CAN ERROR"}, true);
    return answer(ready + timeout, {"NO DATA"}, true);
  }
  QList<QByteArray> lines;
  const bool searching = protocol_ == 0 && !protocolFound_;
  if (searching) {
    lines.append("SEARCHING...");
    ready += kSearchTime;
    protocolFound_ = true;
  }
  if (inject) {
    switch (f.inject) {
      case Injection::Searching:
        lines.append("SEARCHING...");
        break;
      case Injection::BusInit:
        return answer(ready + timeout, lines + QList<QByteArray>{"BUS INIT: ...ERROR"}, true);
      case Injection::CanError:
        return answer(ready + timeout, lines + QList<QByteArray>{"CAN ERROR"}, true);
      case Injection::Noise: {
        QByteArray junk;
        const int n = 3 + int(rng_() % 6);
        for (int i = 0; i < n; ++i) junk.append(char(rng_() & 0xFF));
        emitAt(ready, junk, true);
        break;
      }
      case Injection::None:
        break;
    }
  }

  const Micros answerAt = late ? at + Micros(f.lateBy) : ready + latency;
  const Millis vehicleTime = std::chrono::duration_cast<Millis>(answerAt - engineStart_);
  const QList<QByteArray> frames = carFrames(request, vehicleTime);
  if (frames.isEmpty() || drop || (!late && latency > timeout)) {
    // A search that hears nobody has found no protocol either.
    protocolFound_ = protocolFound_ && !searching;
    lines.append(searching ? "UNABLE TO CONNECT" : "NO DATA");
    return answer(ready + timeout, lines, true);
  }
  for (const QByteArray& frame : frames) {
    lines.append(frame);
    if (twice) lines.append(frame);
  }
  answer(answerAt, lines, true);
}

void wakeTimerAt(Timer& timer, Micros now, std::optional<Micros> when) {
  if (!when) return timer.stop();
  const Micros wait = std::max(Micros{0}, *when - now);
  timer.setInterval(Millis{(wait.count() + 999) / 1000});
  timer.start();
}

}  // namespace tarvex::sim
