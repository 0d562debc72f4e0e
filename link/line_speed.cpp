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

namespace {
bool clean(char c) {
  return (c >= ' ' && c <= '~') || c == '\r' || c == '\n';
}
}  // namespace

bool garbled(const QByteArray& received) {
  return !std::all_of(received.begin(), received.end(), clean);
}

bool answeredAtThisSpeed(const QByteArray& received) {
  const qsizetype prompt = received.indexOf('>');
  return prompt >= 0 && !garbled(received.left(prompt));
}

std::optional<qint32> findBaud(ProbeLine& line, Clock& clock, Millis waitEach) {
  for (qint32 baud : kSearchOrder) {
    if (!line.setBaudRate(baud)) continue;
    // Garbage from the speed before is no answer at this one.
    line.discardInput();
    if (!line.write(kProbe)) return std::nullopt;
    const Micros deadline = clock.now() + waitEach;
    QByteArray received;
    for (Micros now = clock.now(); now < deadline && !garbled(received); now = clock.now()) {
      received += line.read(std::chrono::ceil<Millis>(deadline - now));
      if (answeredAtThisSpeed(received)) return baud;
    }
  }
  return std::nullopt;
}

}  // namespace tarvex
