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
// Time a failed bus initialisation of a wrong protocol takes; it prints three dots meanwhile.
constexpr Millis kBusInitTime{2500};
constexpr Millis kTimeoutUnit{4};
constexpr int kDefaultTimeoutUnits = 0x32;
// Adaptive timing listens for a multiple of the recent answers' latency, never less than a floor:
// AT1 twice that, AT2 one and a half times.
constexpr Millis kAdaptiveFloor1{20};
constexpr Millis kAdaptiveFloor2{8};

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
  return (vanishedAt_ && *vanishedAt_ <= at) || (stalledAt_ && *stalledAt_ <= at) ||
         (linkDroppedAt_ && *linkDroppedAt_ <= at);
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
  if (config_.faults.silent || vanishedAt_ || stalledAt_ || linkDroppedAt_) return;
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

// The adapter's reply to a line that does not go to the car, then its prompt.
void SimAdapter::answer(Micros ready, const QList<QByteArray>& lines) {
  QByteArray text;
  for (const QByteArray& line : lines) text += line + '\r';
  emitAt(ready, text + "\r>");
}

void SimAdapter::processByte(char c, Micros at) {
  if (deafAt(at)) return;
  if (c == '\n') {
    if (lineFeedObserver_) lineFeedObserver_();
    return;
  }
  if (at < resettingUntil_) return;  // lost while the adapter restarts
  if (asleepFrom_ && *asleepFrom_ <= at) {
    // The character wakes it from low power and is lost; it starts as after a warm start.
    asleepFrom_.reset();
    restart(at);
    return;
  }
  if (at < requestBusyUntil_) {
    // Any character stops a request in progress; the character itself is lost.
    interrupt(at);
    return;
  }
  if (settings_.echo) emitAt(at, QByteArray(1, c));
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
  asleepFrom_.reset();
  if (at < searchUntil_) protocolFound_ = false;  // the search was cut short
  searchUntil_ = Micros{-1};
  const char last = output_.empty() ? lastTaken_ : output_.back().c;
  QByteArray text = (last == '\r' || last == '\n' || last == '\0') ? QByteArray() : QByteArray("\r");
  text += "STOPPED\r\r>";
  emitAt(at, text);
}

// `notice` goes out at once, before the adapter goes quiet.
void SimAdapter::restart(Micros at, const QByteArray& notice) {
  std::erase_if(output_, [&](const OutByte& b) { return b.answer && b.due > at; });
  outputLineFree_ = output_.empty() ? std::min(outputLineFree_, at) : output_.back().due;
  emitAt(at, notice);
  requestBusyUntil_ = Micros{-1};
  searchUntil_ = Micros{-1};
  asleepFrom_.reset();
  answerTime_.reset();
  settings_ = Settings{};
  protocolFound_ = false;
  line_.clear();
  lastCommand_.clear();
  resettingUntil_ = at + config_.timing.resetTime;
  emitAt(resettingUntil_, "\r\r" + config_.profile.version + "\r\r>");
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
    answer(at + config_.timing.turnaround, {"?"});
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
      answer(at + config_.timing.turnaround, {});
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
  const AdapterProfile& profile = config_.profile;
  auto reply = [&](const QByteArray& text) { answer(ready, {text}); };
  auto flag = [&](const char* name, bool& setting) {
    const QByteArray n(name);
    if (cmd == n + "0" || cmd == n + "1") {
      setting = cmd.endsWith('1');
      reply("OK");
      return true;
    }
    return false;
  };
  for (const QByteArray& stem : profile.refused)
    if (cmd.startsWith(stem)) return reply("?");
  bool unused = false;
  if (cmd == "Z" && profile.dropsOnReset) {
    // The link goes down with the restart; a client must connect again.
    linkDroppedAt_ = at;
    fallSilent(at);
    restart(at);
  } else if (cmd == "Z" || cmd == "WS") {
    restart(at);
  } else if (cmd == "D") {
    settings_ = Settings{};
    reply("OK");
  } else if (cmd == "I") {
    reply(profile.version);
  } else if (cmd == "@1") {
    reply(profile.description);
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
  } else if (cmd == "H1" && profile.ignoresHeaders) {
    reply("OK");
  } else if (flag("E", settings_.echo) || flag("L", settings_.linefeeds) || flag("S", settings_.spaces) ||
             flag("H", settings_.headers) || flag("M", unused) || flag("R", unused) ||
             flag("CAF", settings_.canAutoFormat) || flag("CSM", unused)) {
  } else if (cmd.size() == 3 && cmd.startsWith("AT") && cmd[2] >= '0' && cmd[2] <= '2') {
    settings_.adaptive = cmd[2] - '0';
    reply("OK");
  } else if (cmd == "PC" || cmd == "AL" || cmd == "NL" || cmd == "JE") {
    reply("OK");
  } else if (cmd == "FE") {
    canSearchBarred_ = false;
    reply("OK");
  } else if (cmd == "MA") {
    // Monitors the bus until a character arrives; nothing else talks on this car's bus.
    requestBusyUntil_ = Micros::max();
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
  auto rawLine = [&](QByteArray frame) -> QByteArray {
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

// What the car answers a request, one message a controller's answer (on J1850 one a line), as
// the adapter prints it, before it adds its own words.
QList<SimAdapter::CarMessage> SimAdapter::carMessages(const QByteArray& request, Millis vehicleTime) {
  QList<CarMessage> messages;
  const std::uint8_t service = std::uint8_t(request[0]);
  const QByteArray& h = settings_.header;
  if (vehicle_.config().car == Car::Can) {
    std::vector<Ecu> addressed;
    const bool functional = h == kFunctionalHeader || h == kCanFunctional;
    if (functional || h == kCanEngine) addressed.push_back(Ecu::Engine);
    if (functional || h == kCanTransmission) addressed.push_back(Ecu::Transmission);
    for (const EcuMessage& m : standardAnswers(vehicle_, request, vehicleTime, addressed))
      messages.append(
          {m.ecu, canLines(std::uint16_t(kCanReplyBase + (m.ecu == Ecu::Engine ? 0 : 1)), m.data)});
    return messages;
  }
  const bool physical = h == kPhysicalHeader;
  if (!physical && h != kFunctionalHeader) return messages;
  const QByteArray replyHeader = physical ? kPhysicalReply : kFunctionalReply;
  if (service == 0x22) {
    if (!physical) return messages;
    QByteArray data = QByteArray::fromHex("7F2212");  // too short a request: refused as malformed
    if (request.size() >= 3) {
      const std::uint16_t id = std::uint16_t((std::uint8_t(request[1]) << 8) | std::uint8_t(request[2]));
      const auto value = vehicle_.enhancedData(id, vehicleTime);
      data = value ? QByteArray(1, char(0x62)) + request.mid(1, 2) + *value : QByteArray::fromHex("7F2231");
    }
    messages.append({Ecu::Engine, {formatFrame(replyHeader, data)}});
    return messages;
  }
  const Ecu engine[] = {Ecu::Engine};
  for (const EcuMessage& m : standardAnswers(vehicle_, request, vehicleTime, engine))
    messages.append({Ecu::Engine, {formatFrame(replyHeader, m.data)}});
  return messages;
}

Micros SimAdapter::drawLatency() {
  const SimTiming& t = config_.timing;
  const std::int64_t spread = std::max<std::int64_t>(0, Micros(t.latencyMax - t.latencyMin).count());
  return Micros(t.latencyMin) + Micros(std::int64_t(rng_() % std::uint64_t(spread + 1)));
}

// How long the adapter goes on listening after an answer: the whole time-out without adaptive
// timing, else a multiple of the recent answers' latency, with a floor, never beyond the time-out.
Micros SimAdapter::listeningTime() const {
  const Micros ceiling = settings_.timeoutUnits * kTimeoutUnit;
  if (!config_.timing.listening) return Micros{0};
  if (settings_.adaptive == 0 || !answerTime_) return ceiling;
  const Micros adapted = settings_.adaptive == 1 ? std::max<Micros>(2 * *answerTime_, kAdaptiveFloor1)
                                                 : std::max<Micros>(*answerTime_ * 3 / 2, kAdaptiveFloor2);
  return std::min(adapted, ceiling);
}

struct SimAdapter::Arrival {
  Micros at;
  QList<QByteArray> lines;
};

// The car's answers to a request and when each reaches the adapter, in that order.
std::vector<SimAdapter::Arrival> SimAdapter::carAnswers(const QByteArray& request, Micros ready, Micros at,
                                                        bool late) {
  const SimTiming& t = config_.timing;
  // Each controller's latency is drawn once; the first draw also dates the car's state.
  const Micros first = late ? at + Micros(config_.faults.lateBy) : ready + drawLatency();
  const Millis vehicleTime = std::chrono::duration_cast<Millis>(first - engineStart_);
  std::vector<Arrival> arrivals;
  std::optional<Micros> next[2];  // when each controller has its next message ready
  for (const CarMessage& m : carMessages(request, vehicleTime)) {
    const int e = m.ecu == Ecu::Engine ? 0 : 1;
    if (!next[e]) {
      const bool firstToAnswer = !next[0] && !next[1];
      next[e] = firstToAnswer || late ? first : ready + drawLatency();
      if (e == 1) *next[e] += t.transmissionLag;
    }
    const Micros done = *next[e] + t.frameGap * std::max<qsizetype>(0, m.lines.size() - 1);
    arrivals.push_back({done, m.lines});
    next[e] = done + t.frameGap;
  }
  std::stable_sort(arrivals.begin(), arrivals.end(),
                   [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
  return arrivals;
}

// The adapter's word alone, then its prompt.
void SimAdapter::finish(Micros at, const QByteArray& word) {
  emitAt(at, word + "\r\r>", true);
  requestBusyUntil_ = lastScheduled();
}

// A bus initialisation that finds nobody: "BUS INIT: ", a dot now and then, "ERROR".
void SimAdapter::busInitError(Micros ready) {
  emitAt(ready, "BUS INIT: ", true);
  for (int dot = 1; dot <= 3; ++dot) emitAt(ready + kBusInitTime * dot / 4, ".", true);
  finish(ready + kBusInitTime, "ERROR");
}

// The word this request gets from the faults, if any. Every rule that matches counts the request.
AdapterWord SimAdapter::pickWord(const QByteArray& digits) {
  const SimFaults& f = config_.faults;
  AdapterWord chosen = AdapterWord::None;
  if (f.inject != AdapterWord::None && roll(f.injectShare)) chosen = f.inject;
  ruleMatches_.resize(f.words.size());
  for (std::size_t i = 0; i < f.words.size(); ++i) {
    const WordRule& rule = f.words[i];
    if (!digits.startsWith(rule.command)) continue;
    const bool hit = rule.nth > 0 ? ++ruleMatches_[i] == rule.nth : roll(rule.share);
    if (hit && chosen == AdapterWord::None) chosen = rule.word;
  }
  return chosen;
}

void SimAdapter::handleRequest(const QByteArray& cmd, Micros at) {
  const SimTiming& t = config_.timing;
  const SimFaults& f = config_.faults;
  const AdapterProfile& profile = config_.profile;
  Micros ready = at + t.turnaround;
  auto refuse = [&] { answer(ready, {"?"}); };
  if (!isHex(cmd)) return refuse();
  QByteArray digits = cmd;
  int most = 0;  // the count digit: the prompt comes right after that many answers
  if (digits.size() % 2 == 1) {
    if (!profile.countDigit) return refuse();
    most = QByteArray(1, digits.back()).toInt(nullptr, 16);
    digits.chop(1);
    if (most == 0) return refuse();
  }
  QByteArray request = QByteArray::fromHex(digits);
  if (request.isEmpty() || request.size() > 7) return refuse();
  if (profile.requestBytes > 0 && request.size() > profile.requestBytes)
    request.truncate(profile.requestBytes);

  const Micros ceiling = settings_.timeoutUnits * kTimeoutUnit;
  const bool drop = roll(f.dropShare);
  const bool late = roll(f.lateShare);
  const bool twice = roll(f.twiceShare);
  const AdapterWord word = pickWord(digits);

  if (protocol_ != 0 && protocol_ != carProtocol()) {
    // Nobody on the bus speaks the protocol asked for.
    if (protocol_ >= 3 && protocol_ <= 5) return busInitError(ready);
    // A CAN at another speed than the car's gets no acknowledgement.
    const bool canAtOurSpeed = carProtocol() == 6 && protocol_ == 7;
    return finish(ready + ceiling, protocol_ >= 6 && !canAtOurSpeed ? "CAN ERROR" : "NO DATA");
  }
  switch (word) {  // the words that come before anything reaches the bus
    case AdapterWord::Question:
      return refuse();
    case AdapterWord::BusBusy:
      return finish(ready, "BUS BUSY");
    case AdapterWord::FbError:
      return finish(ready, "FB ERROR");
    case AdapterWord::LvReset:
      return restart(ready, "LV RESET\r");
    case AdapterWord::Err94:
      // A fatal CAN error: it resets itself, and bars the CAN protocols from its searches.
      canSearchBarred_ = true;
      return restart(ready, "ERR94\r");
    default:
      break;
  }

  const bool searching = protocol_ == 0 && !protocolFound_;
  if (searching || word == AdapterWord::Searching) emitAt(ready, "SEARCHING...\r", true);
  if (searching) {
    if (profile.searchDot > Millis{0}) {
      for (Micros dot = profile.searchDot; dot <= profile.searchTime; dot += profile.searchDot)
        emitAt(ready + dot, ".", true);
    }
    ready += profile.searchTime;
    searchUntil_ = ready;
    if (vehicle_.config().car == Car::Can && canSearchBarred_) return finish(ready, "UNABLE TO CONNECT");
    protocolFound_ = true;
  }
  switch (word) {  // the words that take the place of the whole exchange
    case AdapterWord::BusInit:
      return busInitError(ready);
    case AdapterWord::CanError:
      return finish(ready + ceiling, "CAN ERROR");
    case AdapterWord::NoData:
      return finish(ready + ceiling, "NO DATA");
    case AdapterWord::UnableToConnect:
      return finish(ready + ceiling, "UNABLE TO CONNECT");
    case AdapterWord::ActAlert:
      // Nothing on the bus: the activity monitor warns, and the adapter goes to low power.
      emitAt(ready + ceiling, "ACT ALERT\r", true);
      requestBusyUntil_ = lastScheduled();
      asleepFrom_ = requestBusyUntil_;
      return;
    case AdapterWord::Noise: {
      QByteArray junk;
      const int n = 3 + int(rng_() % 6);
      for (int i = 0; i < n; ++i) junk.append(char(rng_() & 0xFF));
      emitAt(ready, junk, true);
      break;
    }
    default:
      break;
  }

  // The first answer must come within the time-out; each later one within the listening time
  // after the one before. Whatever comes later is not heard.
  std::vector<Arrival> heard;
  Micros deadline = late ? std::max(ready + ceiling, at + Micros(f.lateBy)) : ready + ceiling;
  Micros listen{0};
  for (const Arrival& a : drop ? std::vector<Arrival>{} : carAnswers(request, ready, at, late)) {
    if (a.at > deadline && (heard.empty() || t.listening)) break;
    if (heard.empty()) {
      const Micros latency = a.at - ready;
      answerTime_ = answerTime_ ? *answerTime_ + (latency - *answerTime_) / 4 : latency;
      listen = listeningTime();
    }
    heard.push_back(a);
    if (twice) heard.push_back(a);
    if (most > 0 && int(heard.size()) >= most) break;
    deadline = a.at + listen;
  }
  if (heard.empty()) {
    // A search that hears nobody has found no protocol either.
    protocolFound_ = protocolFound_ && !searching;
    return finish(ready + ceiling, searching ? "UNABLE TO CONNECT" : "NO DATA");
  }
  if (most > 0 && int(heard.size()) > most) heard.resize(std::size_t(most));
  const bool counted = most > 0 && int(heard.size()) == most;
  switch (word) {
    case AdapterWord::DataError:
      return finish(heard.front().at, "DATA ERROR");
    case AdapterWord::BusError:
      return finish(heard.front().at, "BUS ERROR");
    case AdapterWord::Stopped:
      return finish(heard.front().at, "STOPPED");
    case AdapterWord::BufferFull:
      emitAt(heard.front().at, heard.front().lines.front() + '\r', true);
      return finish(heard.front().at, "BUFFER FULL");
    case AdapterWord::DataErrorMark:
      heard.back().lines.back() += "<DATA ERROR";
      break;
    default:
      break;
  }
  for (const Arrival& a : heard) emitAt(a.at, a.lines.join('\r') + '\r', true);
  emitAt(counted ? heard.back().at : heard.back().at + listen, "\r>", true);
  requestBusyUntil_ = lastScheduled();
}

void wakeTimerAt(Timer& timer, Micros now, std::optional<Micros> when) {
  if (!when) return timer.stop();
  const Micros wait = std::max(Micros{0}, *when - now);
  timer.setInterval(Millis{(wait.count() + 999) / 1000});
  timer.start();
}

}  // namespace tarvex::sim
