#include "link/request_queue.h"

namespace tarvex {

QStringList meaningfulLines(const QString& text) {
  QStringList lines;
  QString all = text;
  all.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  all.remove(QLatin1Char('>'));
  for (const QString& raw : all.split(QLatin1Char('\r'), Qt::SkipEmptyParts)) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1String("SEARCHING"), Qt::CaseInsensitive)) continue;
    // The K-line wake-up's progress, and the dots some adapters print while they search.
    if (line.startsWith(QLatin1String("BUS INIT"), Qt::CaseInsensitive) && !adapterWord(line)) continue;
    if (line.count(QLatin1Char('.')) == line.size()) continue;
    lines << line;
  }
  return lines;
}

RequestQueue::RequestQueue(AdapterLink& link, Clock& clock, AdapterTraits& traits)
    : link_(link), clock_(clock), traits_(traits) {}

RequestQueue::~RequestQueue() = default;

void RequestQueue::send(Request request, ReplyHandler done) {
  Entry entry{std::move(request), std::move(done), 0, {}, {}};
  entry.triesLeft = entry.request.retries;
  waiting_.push_back(std::move(entry));
  next();
}

void RequestQueue::clear() {
  waiting_.clear();
  current_.reset();
  ++generation_;
}

void RequestQueue::resend() {
  if (current_) transmit();
}

void RequestQueue::resume() {
  next();
}

void RequestQueue::next() {
  // The link may still be busy with a set-up of its own: resume() comes after.
  if (current_ || waiting_.empty() || !link_.idle()) return;
  current_ = std::move(waiting_.front());
  waiting_.pop_front();
  transmit();
}

void RequestQueue::transmit() {
  Entry& e = *current_;
  const Request& r = e.request;
  e.sent = r.command;
  const bool digit =
      !r.shape && r.answers > 0 && r.answers <= 15 && traits_.countDigit != AdapterTraits::Support::kNo;
  if (digit) e.sent += QString::number(r.answers, 16).toUpper();
  e.sentAt = clock_.now();
  link_.setPatience(r.patience);
  // What is left over answers nothing still awaited; the echo starts the answer.
  if (!r.shape) link_.setBuffer(QString());
  const Status sent = link_.SendCom(e.sent, r.shape.value_or(ReplyShape{e.sent, 0, 0}), r.resets);
  if (!sent && current_) finish(sent.failure());
}

bool RequestQueue::again() {
  if (current_->triesLeft <= 0) return false;
  --current_->triesLeft;
  transmit();
  return true;
}

void RequestQueue::onReply(const AdapterLink::Reply& linkReply) {
  if (!current_) return;
  Entry& e = *current_;
  Reply reply{e.sent, {}, linkReply.out, {}, e.sentAt, clock_.now()};
  if (e.request.shape) {
    reply.text = linkReply.text;
    return finish(reply);
  }
  const qsizetype echo = linkReply.text.indexOf(e.sent);
  const qsizetype from = echo < 0 ? 0 : echo + e.sent.size();
  const qsizetype prompt = linkReply.text.indexOf(QLatin1Char('>'), from);
  reply.text = linkReply.text.mid(from, prompt < 0 ? -1 : prompt - from);
  reply.lines = meaningfulLines(reply.text);

  std::optional<AdapterWord> word;
  QString printed;
  bool data = false;
  for (const QString& line : reply.lines) {
    const std::optional<AdapterWord> w = adapterWord(line);
    if (!w) {
      data = true;
    } else if (!word || *word == AdapterWord::kNoData) {
      word = w;
      // A checksum error is printed after the line it spoiled.
      const qsizetype mark = line.indexOf(QLatin1Char('<'));
      printed = mark > 0 ? line.mid(mark) : line;
    }
  }
  const bool digitSent = e.sent.size() > e.request.command.size();
  if (digitSent) {
    if (word == AdapterWord::kUnknownCommand) {
      traits_.countDigit = AdapterTraits::Support::kNo;
      transmit();
      return;
    }
    traits_.countDigit = AdapterTraits::Support::kYes;
  }
  if (!word || (*word == AdapterWord::kNoData && data)) return finish(reply);
  if (*word == AdapterWord::kStopped && again()) return;
  const Failure::Kind kind =
      *word == AdapterWord::kNoData ? Failure::Kind::kNoAnswer : Failure::Kind::kAdapter;
  finish(Failure{kind, link_.deviceName(), printed, e.request.command});
}

void RequestQueue::onTimeout() {
  if (!current_) return;
  if (again()) return;
  // Characters that are neither the echo nor an answer: most likely another line speed.
  const QString& buffer = link_.buffer();
  const bool garbled = !buffer.isEmpty() && !buffer.contains(current_->sent);
  finish(Failure{Failure::Kind::kSilent, link_.deviceName(), garbled ? QStringLiteral("garbled") : QString(),
                 current_->request.command});
}

void RequestQueue::finish(const Result<Reply>& result) {
  Entry done = std::move(*current_);
  current_.reset();
  const int generation = generation_;
  if (done.done) done.done(result);
  if (generation == generation_) next();
}

}  // namespace tarvex
