#include "monitors/monitor_reader.h"

namespace tarvex {

const Failure* MonitorReport::failure(const QString& request) const {
  for (const Failure& f : failed)
    if (f.request == request) return &f;
  return nullptr;
}

MonitorReader::MonitorReader(CarLink& car) : car_(car) {
  car_.setFailureHandler([this](const Failure& failure) { fail(failure); });
}

MonitorReader::~MonitorReader() {
  car_.setFailureHandler({});
}

Status MonitorReader::read() {
  if (busy_) return {};
  SerialPort& port = car_.session().port();
  if (!port.isOpen() && !port.open()) return openFailure(port);
  busy_ = true;
  ++run_;
  report_ = MonitorReport{};
  supported_ = obd::SupportedMonitors{};
  if (car_.connected()) {
    begin();
    return {};
  }
  if (progress_) progress_(QStringLiteral("0100"));
  const int run = run_;
  car_.connect({}, [this, run](const Result<obd::Protocol>& protocol) {
    if (run != run_) return;
    if (!protocol) return fail(protocol.failure());
    begin();
  });
  return {};
}

void MonitorReader::stop() {
  ++run_;
  busy_ = false;
  car_.stop();
}

void MonitorReader::fail(const Failure& failure) {
  stop();
  if (failed_) failed_(failure);
}

void MonitorReader::begin() {
  report_.protocol = car_.protocol();
  report_.legacy = car_.bus() == obd::Bus::kLegacy;
  for (const obd::Message& m : car_.searchAnswer())
    if (!report_.controllers.contains(m.source)) report_.controllers << m.source;
  askBitmap(0x00);
}

void MonitorReader::ask(const QString& command, std::function<void(const Result<CarAnswer>&)> then) {
  if (progress_) progress_(command);
  const int run = run_;
  // STOPPED and a damaged answer are asked once more.
  car_.ask(Request{command, 0, CarLink::kAnswerPatience, 1, std::nullopt, false},
           [this, run, command, then = std::move(then)](const Result<CarAnswer>& answer) {
             if (run != run_) return;
             if (!answer && portFailed(answer.failure())) return fail(answer.failure());
             if (answer) report_.read << command;
             then(answer);
           });
}

void MonitorReader::askBitmap(int base) {
  ask(obd::monitorRequest(base), [this, base](const Result<CarAnswer>& answer) {
    if (!answer) {
      // Nobody answering the first bitmap, or everybody refusing it, is the
      // car's way of saying it has no results in this form.
      const Failure& f = answer.failure();
      if (base == 0 && (f.is(Failure::Kind::kNoAnswer) || f.is(Failure::Kind::kRefused))) {
        report_.unsupported = f;
        return finish();
      }
      report_.failed.push_back(f);
      return askTest(0);
    }
    supported_.add(base, answer->messages);
    if (base == 0) {
      report_.supported = supported_.answered();
      for (const obd::Message& m : answer->messages)
        if (m.data.size() >= 6 && m.data[0] == 0x46 && m.data[1] == 0x00 &&
            !report_.withTests.contains(m.source))
          report_.withTests << m.source;
      if (!report_.supported) {
        report_.failed.push_back(Failure{Failure::Kind::kBroken, car_.session().port().deviceName(),
                                         QStringLiteral("no bitmap in the answer"),
                                         obd::monitorRequest(base)});
        return finish();
      }
    }
    if (const std::optional<int> next = supported_.nextBitmap()) return askBitmap(*next);
    askTest(0);
  });
}

void MonitorReader::askTest(std::size_t index) {
  if (index == 0) report_.ids = supported_.monitors();
  if (index >= report_.ids.size()) return finish();
  const int id = report_.ids[index];
  const QString command = obd::monitorRequest(id);
  ask(command, [this, index, id, command](const Result<CarAnswer>& answer) {
    if (!answer) {
      report_.failed.push_back(answer.failure());
    } else if (report_.legacy) {
      takeLegacy(id, command, *answer);
    } else {
      takeMonitor(id, command, *answer);
    }
    askTest(index + 1);
  });
}

Failure MonitorReader::broken(const QString& why, const QString& command) const {
  return Failure{Failure::Kind::kBroken, car_.session().port().deviceName(), why, command};
}

// Each controller's answer alone, so that one cut short loses only its own.
void MonitorReader::takeMonitor(int mid, const QString& command, const CarAnswer& answer) {
  bool any = false;
  for (const obd::Message& m : answer.messages) {
    const obd::MonitorAnswer one = obd::readMonitor(mid, {m});
    if (!one.supported) continue;
    any = true;
    if (one.cut) {
      report_.failed.push_back(
          broken(QStringLiteral("%1 cut a test's record short").arg(obd::controllerName(m.source)), command));
      continue;
    }
    report_.tests.insert(report_.tests.end(), one.results.begin(), one.results.end());
  }
  if (!any)
    report_.failed.push_back(broken(QStringLiteral("no test of this monitor in the answer"), command));
}

void MonitorReader::takeLegacy(int tid, const QString& command, const CarAnswer& answer) {
  const obd::LegacyTestAnswer got = obd::readLegacyTest(tid, answer.messages);
  if (!got.supported) {
    report_.failed.push_back(broken(QStringLiteral("no result of this test in the answer"), command));
    return;
  }
  report_.legacyTests.insert(report_.legacyTests.end(), got.results.begin(), got.results.end());
}

void MonitorReader::finish() {
  busy_ = false;
  if (done_) done_(report_);
}

}  // namespace tarvex
