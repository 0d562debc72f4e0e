#include "link/line_speed.h"

#include <QStringList>
#include <algorithm>

namespace tarvex {

std::optional<qint32> parseBaud(const QString& text) {
  if (text == QStringLiteral("auto")) return kFindBaud;
  bool ok = false;
  const qint32 baud = text.toInt(&ok);
  if (ok && std::find(std::begin(kBaudRates), std::end(kBaudRates), baud) != std::end(kBaudRates))
    return baud;
  return std::nullopt;
}

QString baudRatesText() {
  QStringList rates;
  for (qint32 baud : kBaudRates) rates << QString::number(baud);
  const QString last = rates.takeLast();
  return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

Heard heard(const QByteArray& received) {
  for (char c : received) {
    if (c == '>') return Heard::kAnswer;
    if (!((c >= ' ' && c <= '~') || c == '\r' || c == '\n')) return Heard::kGarbage;
  }
  return Heard::kNothingYet;
}

namespace {
// Two plain answers in a row keep a speed; two failed probes leave it.
constexpr int kPlainNeeded = 2;
constexpr int kFailuresAllowed = 2;
constexpr std::size_t kSpeeds = std::size(kSearchOrder);
}  // namespace

BaudSearch::BaudSearch(SearchLine& line, Clock& clock, SearchTiming timing)
    : line_(line), clock_(clock), timing_(timing), timer_(clock.createTimer()) {
  timer_->setSingleShot(true);
  timer_->setCallback([this] {
    if (state_ == State::kSettling) {
      probe();
    } else if (state_ == State::kListening) {
      judged(false);  // no prompt in time
    }
  });
}

qint32 BaudSearch::speed() const {
  return kSearchOrder[std::min(index_, kSpeeds - 1)];
}

void BaudSearch::start(Done done) {
  done_ = std::move(done);
  ++run_;
  trySpeed(0);
}

void BaudSearch::cancel() {
  state_ = State::kIdle;
  timer_->stop();
  done_ = nullptr;
}

void BaudSearch::trySpeed(std::size_t index) {
  for (index_ = index; index_ < kSpeeds; ++index_) {
    if (!line_.setBaudRate(kSearchOrder[index_])) continue;
    plainInARow_ = failed_ = 0;
    settle();
    return;
  }
  finish(std::nullopt);
}

void BaudSearch::settle() {
  state_ = State::kSettling;
  settleUntil_ = clock_.now() + timing_.settleAtMost;
  timer_->setInterval(timing_.settle);
  timer_->start();
}

void BaudSearch::probe() {
  state_ = State::kListening;
  answer_.clear();
  timer_->setInterval(timing_.answerWait);
  timer_->start();
  // A failed write is the port's to tell; its owner may have started a new
  // search meanwhile.
  const int run = run_;
  if (!line_.write(kProbe) && run == run_) cancel();
}

void BaudSearch::received(const QByteArray& bytes) {
  if (state_ == State::kSettling) {
    // Not quiet yet: wait again, but not past the limit.
    const Micros left = settleUntil_ - clock_.now();
    if (left > Micros{0}) {
      timer_->setInterval(std::min(timing_.settle, std::chrono::ceil<Millis>(left)));
      timer_->start();
    }
    return;
  }
  if (state_ != State::kListening) return;
  answer_ += bytes;
  const Heard h = heard(answer_);
  if (h != Heard::kNothingYet) judged(h == Heard::kAnswer);
}

void BaudSearch::judged(bool plain) {
  timer_->stop();
  plainInARow_ = plain ? plainInARow_ + 1 : 0;
  failed_ += plain ? 0 : 1;
  if (plainInARow_ >= kPlainNeeded) return finish(speed());
  if (failed_ >= kFailuresAllowed) return trySpeed(index_ + 1);
  settle();  // the rest of a garbled answer is dropped before asking again
}

void BaudSearch::finish(std::optional<qint32> found) {
  state_ = State::kIdle;
  timer_->stop();
  if (Done done = std::exchange(done_, nullptr)) done(found);
}

}  // namespace tarvex
