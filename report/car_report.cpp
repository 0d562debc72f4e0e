#include "report/car_report.h"

#include <algorithm>

namespace tarvex {

std::vector<Failure> CarReport::allFailures() const {
  std::vector<Failure> all = failed;
  all.insert(all.end(), codes.failed.begin(), codes.failed.end());
  all.insert(all.end(), monitors.failed.begin(), monitors.failed.end());
  return all;
}

bool CarReport::incomplete() const {
  const bool own = std::any_of(failed.begin(), failed.end(), [](const Failure& f) {
    if (f.request == QLatin1String("ATI")) return false;  // the adapter's name, not the car's
    const bool optional = f.request == QLatin1String("0902") || f.request == QLatin1String("0904");
    return !(optional && f.is(Failure::Kind::kNoAnswer));
  });
  return own || codes.incomplete() || monitors.incomplete();
}

ReportReader::ReportReader(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits)
    : car_(port, replyTimer, clock, traits), codes_(car_), monitors_(car_) {
  // The readers take turns on the link; whatever fails on it ends the report.
  car_.setFailureHandler([this](const Failure& failure) { fail(failure); });
  codes_.setFailureHandler([this](const Failure& failure) { fail(failure); });
  monitors_.setFailureHandler([this](const Failure& failure) { fail(failure); });
  codes_.setDone([this](const CodesReport& codes) { codesRead(codes); });
  monitors_.setDone([this](const MonitorReport& monitors) {
    report_.monitors = monitors;
    busy_ = false;
    if (done_) done_(report_);
  });
}

ReportReader::~ReportReader() {
  car_.setFailureHandler({});
}

void ReportReader::setProgress(std::function<void(const QString&)> progress) {
  progress_ = std::move(progress);
  codes_.setProgress(progress_);
  monitors_.setProgress(progress_);
}

Status ReportReader::read(const QDateTime& date) {
  if (busy_) return {};
  ++run_;
  report_ = CarReport{};
  report_.date = date;
  report_.device = car_.session().port().deviceName();
  busy_ = true;
  if (Status begun = codes_.read(); !begun) {
    busy_ = false;
    return begun;
  }
  return {};
}

void ReportReader::stop() {
  ++run_;
  busy_ = false;
  codes_.stop();
  monitors_.stop();
}

void ReportReader::fail(const Failure& failure) {
  stop();
  if (failed_) failed_(failure);
}

void ReportReader::codesRead(const CodesReport& codes) {
  report_.codes = codes;
  report_.protocol = codes.protocol;
  askAdapter();
}

void ReportReader::askAdapter() {
  const QString command = QStringLiteral("ATI");
  if (progress_) progress_(command);
  const int run = run_;
  // ATI answers with the banner a reset prints: marked as one, so that the
  // link takes it for the answer and not for an adapter that reset itself.
  car_.session().send(Request{command, 0, kSettingPatience, 1, std::nullopt, /*resets=*/true},
                      [this, run, command](const Result<Reply>& reply) {
                        if (run != run_) return;
                        if (!reply) {
                          if (portFailed(reply.failure())) return fail(reply.failure());
                          Failure f = reply.failure();
                          if (f.request.isEmpty()) f.request = command;
                          report_.failed.push_back(f);
                        } else {
                          report_.adapter = reply->lines.value(0).trimmed();
                        }
                        askInfo(obd::kVinPid, &CarReport::vin, [this] {
                          askInfo(obd::kCalibrationPid, &CarReport::calibrationIds, [this] {
                            if (Status begun = monitors_.read(); !begun) fail(begun.failure());
                          });
                        });
                      });
}

void ReportReader::askInfo(int pid, std::vector<obd::InfoItems> CarReport::*into,
                           std::function<void()> next) {
  const QString command = QString::asprintf("09%02X", pid);
  if (progress_) progress_(command);
  const int run = run_;
  car_.ask(Request{command, 0, CarLink::kAnswerPatience, 1, std::nullopt, false},
           [this, run, pid, into, command, next = std::move(next)](const Result<CarAnswer>& answer) {
             if (run != run_) return;
             if (!answer) {
               if (portFailed(answer.failure())) return fail(answer.failure());
               report_.failed.push_back(answer.failure());
             } else {
               report_.*into = obd::readInfo(answer->messages, pid, car_.bus());
             }
             next();
           });
}

}  // namespace tarvex
