#include "codes/codes_reader.h"

#include <algorithm>
#include <span>

#include "obd/trouble_codes.h"
#include "obd/vehicle_info.h"

namespace tarvex {

QString CodeEntry::status() const {
  QStringList parts;
  if (stored) parts << QStringLiteral("stored");
  if (pending) parts << QStringLiteral("pending");
  if (permanent) parts << QStringLiteral("permanent");
  return parts.join(QStringLiteral(", "));
}

const Failure* CodesReport::failure(const QString& request) const {
  for (const Failure& f : failed)
    if (f.request == request) return &f;
  return nullptr;
}

bool CodesReport::incomplete() const {
  return std::any_of(failed.begin(), failed.end(), [](const Failure& f) {
    const bool optional = f.request == QLatin1String("07") || f.request == QLatin1String("0A") ||
                          (f.request.startsWith(QLatin1String("02")) && f.request.size() == 6);
    return !(optional && f.is(Failure::Kind::kNoAnswer));
  });
}

QStringList CodesReport::countMismatches() const {
  QStringList sources;
  if (!wasRead(QStringLiteral("03"))) return sources;
  for (const ControllerReadiness& r : readiness) {
    const auto listed = std::count_if(codes.begin(), codes.end(),
                                      [&](const CodeEntry& c) { return c.stored && c.source == r.source; });
    if (listed != r.readiness.storedCodes) sources << r.source;
  }
  return sources;
}

CodesReader::CodesReader(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits)
    : own_(std::make_unique<CarLink>(port, replyTimer, clock, traits)), car_(*own_) {
  car_.setFailureHandler([this](const Failure& failure) { fail(failure); });
}

CodesReader::CodesReader(CarLink& car) : car_(car) {
  car_.setFailureHandler([this](const Failure& failure) { fail(failure); });
}

CodesReader::~CodesReader() {
  car_.setFailureHandler({});
}

Status CodesReader::read() {
  return begin(readSteps());
}

Status CodesReader::readVin() {
  std::deque<Step> steps;
  steps.push_back({QStringLiteral("0902"),
                   [this](const CarAnswer& a) { report_.vin = obd::vin(a.messages, car_.bus()); }});
  return begin(std::move(steps));
}

Result<bool> CodesReader::clear(Confirm& confirm) {
  if (busy_) return false;
  if (!confirm.ask(QString::fromLatin1(kClearQuestion))) return false;
  std::deque<Step> steps = readSteps();
  steps.push_front({QStringLiteral("04"), [this](const CarAnswer& a) {
                      for (const obd::Message& m : a.messages)
                        if (!m.data.empty() && m.data[0] == 0x44) report_.cleared = true;
                    }});
  if (Status begun = begin(std::move(steps)); !begun) return begun.failure();
  return true;
}

void CodesReader::stop() {
  steps_.clear();
  busy_ = false;
  car_.stop();
}

void CodesReader::fail(const Failure& failure) {
  stop();
  if (failed_) failed_(failure);
}

std::deque<CodesReader::Step> CodesReader::readSteps() {
  std::deque<Step> steps;
  steps.push_back({QStringLiteral("0101"), [this](const CarAnswer& a) {
                     for (const obd::Message& m : a.messages) {
                       if (m.data.size() < 6 || m.data[0] != 0x41 || m.data[1] != 0x01) continue;
                       if (auto r = obd::readReadiness(std::span(m.data).subspan(2)))
                         addReadiness(m.source, *r);
                     }
                   }});
  steps.push_back({QStringLiteral("03"), [this](const CarAnswer& a) { addCodes(a, 0x03); }});
  steps.push_back({QStringLiteral("07"), [this](const CarAnswer& a) { addCodes(a, 0x07); }});
  steps.push_back({QStringLiteral("0A"), [this](const CarAnswer& a) { addCodes(a, 0x0A); }});
  // Frame 0's PID 02 names the code that made the controller keep it.
  steps.push_back({QStringLiteral("020200"), [this](const CarAnswer& a) {
                     for (const obd::Message& m : a.messages) {
                       const auto& d = m.data;
                       if (d.size() < 5 || d[0] != 0x42 || d[1] != 0x02 || (d[3] == 0 && d[4] == 0)) continue;
                       report_.freezeFrame = FreezeFrame{m.source, obd::codeText(d[3], d[4]), {}};
                       addFreezeFrameSteps(m.source, 0x00);
                       return;
                     }
                   }});
  return steps;
}

// Answers without addresses (an adapter that ignores ATH1) are one
// controller's: its lamp is on if any says so, its codes are all of theirs,
// and its monitors those of the answer that has the most.
void CodesReader::addReadiness(const QString& source, const obd::Readiness& readiness) {
  const auto same = std::ranges::find_if(report_.readiness,
                                         [&](const ControllerReadiness& r) { return r.source == source; });
  if (same == report_.readiness.end()) return report_.readiness.push_back({source, readiness});
  const auto supported = [](const obd::Readiness& r) {
    return std::ranges::count_if(r.monitors, [](const obd::Monitor& m) { return m.supported; });
  };
  obd::Readiness merged = supported(readiness) > supported(same->readiness) ? readiness : same->readiness;
  merged.milOn = readiness.milOn || same->readiness.milOn;
  merged.storedCodes = readiness.storedCodes + same->readiness.storedCodes;
  same->readiness = merged;
}

// The frame's PIDs from its support bitmap (02 base 00), each asked alone; the
// last bit of a bitmap says the next one is there too.
void CodesReader::addFreezeFrameSteps(const QString& source, int base) {
  steps_.push_back({QString::asprintf("02%02X00", base), [this, source, base](const CarAnswer& a) {
                      for (const obd::Message& m : a.messages) {
                        const auto& d = m.data;
                        if (m.source != source || d.size() < 7 || d[0] != 0x42 || d[1] != base) continue;
                        for (int bit = 0; bit < 32; ++bit) {
                          if (!(d[3 + static_cast<std::size_t>(bit / 8)] & (0x80 >> (bit % 8)))) continue;
                          const int pid = base + bit + 1;
                          if (obd::SupportedPids::isBitmap(pid)) {
                            if (pid < 0xE0) addFreezeFrameSteps(source, pid);
                          } else if (pid != 0x02 && obd::findPid(pid)) {
                            steps_.push_back(
                                {QString::asprintf("02%02X00", pid), [this, source](const CarAnswer& v) {
                                   for (const obd::Message& one : v.messages)
                                     if (one.source == source)
                                       if (auto frozen = obd::freezeFrameValue(one.data))
                                         report_.freezeFrame->values.push_back(*frozen);
                                 }});
                          }
                        }
                        return;
                      }
                    }});
}

void CodesReader::addCodes(const CarAnswer& answer, int service) {
  const auto found = obd::troubleCodes(answer.messages, static_cast<obd::CodeService>(service), car_.bus());
  for (const obd::TroubleCode& c : found) {
    auto it = std::find_if(report_.codes.begin(), report_.codes.end(),
                           [&](const CodeEntry& e) { return e.code == c.code && e.source == c.source; });
    if (it == report_.codes.end()) {
      report_.codes.push_back(CodeEntry{c.code, c.source, false, false, false, obd::describeCode(c.code)});
      it = std::prev(report_.codes.end());
    }
    (service == 0x03 ? it->stored : service == 0x07 ? it->pending : it->permanent) = true;
  }
}

Status CodesReader::begin(std::deque<Step> steps) {
  if (busy_) return {};
  SerialPort& port = car_.session().port();
  if (!port.isOpen() && !port.open()) return openFailure(port);
  busy_ = true;
  report_ = CodesReport{};
  steps_ = std::move(steps);
  if (car_.connected()) {
    report_.protocol = car_.protocol();
    next();
    return {};
  }
  if (progress_) progress_(QStringLiteral("0100"));
  car_.connect({}, [this](const Result<obd::Protocol>& protocol) {
    if (!protocol) return fail(protocol.failure());
    report_.protocol = *protocol;
    next();
  });
  return {};
}

void CodesReader::next() {
  if (steps_.empty()) {
    std::sort(report_.codes.begin(), report_.codes.end(), [](const CodeEntry& a, const CodeEntry& b) {
      return a.source != b.source ? a.source < b.source : a.code < b.code;
    });
    busy_ = false;
    if (done_) done_(report_);
    return;
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  if (progress_) progress_(step.command);
  // STOPPED and a damaged answer are asked once more.
  Request request{step.command, 0, CarLink::kAnswerPatience, 1, std::nullopt, false};
  car_.ask(std::move(request), [this, step](const Result<CarAnswer>& answer) {
    if (!answer) {
      if (portFailed(answer.failure())) return fail(answer.failure());
      report_.failed.push_back(answer.failure());
    } else {
      report_.read << step.command;
      step.then(*answer);
    }
    next();
  });
}

}  // namespace tarvex
