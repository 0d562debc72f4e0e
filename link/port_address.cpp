#include "link/port_address.h"

#include <QHostAddress>
#include <QStringList>

#include "link/line_speed.h"
#include "link/qt_serial_port.h"
#include "link/remembered_line.h"
#include "link/tcp_port.h"

namespace tarvex {

namespace {

const QString kScheme = QStringLiteral("tcp://");

// Decimal digits only: no sign, no spaces, no hexadecimal.
std::optional<uint> decimal(const QString& text, uint most) {
  if (text.isEmpty() || text.size() > 5) return std::nullopt;
  for (const QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
  const uint value = text.toUInt();
  return value <= most ? std::optional(value) : std::nullopt;
}

// A host of digits and dots is meant as an IPv4 address: four numbers, each
// read as decimal (inet_aton would take "010" for octal 8, which nobody means).
std::optional<QString> ipv4(const QString& host) {
  const QStringList parts = host.split(QLatin1Char('.'));
  if (parts.size() != 4) return std::nullopt;
  QStringList numbers;
  for (const QString& part : parts) {
    const std::optional<uint> n = part.size() <= 3 ? decimal(part, 255) : std::nullopt;
    if (!n) return std::nullopt;
    numbers << QString::number(*n);
  }
  return numbers.join(QLatin1Char('.'));
}

// Letters, digits and hyphens in dot-separated labels (RFC 1123).
bool hostName(const QString& host) {
  if (host.size() > 253) return false;
  for (const QString& label : host.split(QLatin1Char('.'))) {
    if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) ||
        label.endsWith(QLatin1Char('-')))
      return false;
    for (const QChar c : label)
      if (!(c.isDigit() || (c.toLatin1() >= 'a' && c.toLatin1() <= 'z') ||
            (c.toLatin1() >= 'A' && c.toLatin1() <= 'Z') || c == QLatin1Char('-')))
        return false;
  }
  return true;
}

bool digitsAndDots(const QString& host) {
  for (const QChar c : host)
    if (!(c.isDigit() || c == QLatin1Char('.'))) return false;
  return true;
}

TcpParse refused(const QString& problem) {
  return {std::nullopt, problem};
}

}  // namespace

QString TcpAddress::text() const {
  const bool v6 = host.contains(QLatin1Char(':'));
  return kScheme + (v6 ? QStringLiteral("[%1]").arg(host) : host) + QLatin1Char(':') + QString::number(port);
}

bool isTcpAddress(const QString& port) {
  return port.startsWith(kScheme, Qt::CaseInsensitive);
}

TcpParse parseTcpAddress(const QString& text) {
  const QString example = QStringLiteral("give it as tcp://HOST:PORT, e.g. tcp://192.168.0.10:35000");
  if (!isTcpAddress(text)) return refused(example);
  const QString rest = text.mid(kScheme.size());
  QString host;
  QString portText;
  if (rest.startsWith(QLatin1Char('['))) {
    const qsizetype close = rest.indexOf(QLatin1Char(']'));
    if (close < 0) return refused(QStringLiteral("the IPv6 address has no closing bracket"));
    host = rest.mid(1, close - 1);
    QHostAddress v6;
    if (!v6.setAddress(host) || v6.protocol() != QAbstractSocket::IPv6Protocol)
      return refused(QStringLiteral("%1 is no IPv6 address").arg(host));
    if (rest.mid(close + 1, 1) != QLatin1String(":"))
      return refused(QStringLiteral("the port is missing after the host; ") + example);
    portText = rest.mid(close + 2);
  } else {
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) return refused(QStringLiteral("the port is missing after the host; ") + example);
    host = rest.left(colon);
    portText = rest.mid(colon + 1);
    if (host.isEmpty()) return refused(QStringLiteral("the host is missing; ") + example);
    if (host.contains(QLatin1Char(':')))
      return refused(QStringLiteral("an IPv6 address goes in brackets, e.g. tcp://[%1]:35000").arg(host));
    if (digitsAndDots(host)) {
      const std::optional<QString> v4 = ipv4(host);
      if (!v4) return refused(QStringLiteral("%1 is no IPv4 address").arg(host));
      host = *v4;
    } else if (!hostName(host)) {
      return refused(QStringLiteral("%1 is no host name").arg(host));
    }
  }
  const std::optional<uint> port = decimal(portText, 65535);
  if (!port || *port == 0)
    return refused(QStringLiteral("the port must be a number from 1 to 65535, not \"%1\"").arg(portText));
  return {TcpAddress{host, static_cast<quint16>(*port)}, QString()};
}

Status checkPort(const QString& device, bool baudGiven) {
  if (!isTcpAddress(device)) return {};
  const auto refused = [&device](const QString& reason) {
    return Failure{Failure::Kind::kInvalid, device, reason, {}};
  };
  const TcpParse parsed = parseTcpAddress(device);
  if (!parsed.address) return refused(QStringLiteral("--port %1: %2.").arg(device, parsed.problem));
  // Refused rather than ignored: a speed given for a network adapter shows the
  // user expects a serial device, perhaps the one a remembered address hides.
  if (baudGiven)
    return refused(QStringLiteral("--baud is for a serial device; %1 is a network adapter, which has no "
                                  "line speed. Leave --baud out, or name the serial device with --port.")
                       .arg(device));
  return {};
}

Result<std::unique_ptr<PortFactory>> makePortFactory(const std::optional<QString>& port,
                                                     const std::optional<qint32>& baud,
                                                     RememberedLine& remembered, Clock& clock) {
  const LineChoice line = chooseLine(port, baud, remembered, defaultPortName());
  if (Status usable = checkPort(line.device, baud.has_value()); !usable) return usable.failure();
  return std::unique_ptr<PortFactory>(
      std::make_unique<RememberingPortFactory>(adapterMaker(clock), line, remembered));
}

RememberingPortFactory::Maker adapterMaker(Clock& clock) {
  return [&clock](const LineChoice& line) -> std::unique_ptr<PortFactory> {
    if (!isTcpAddress(line.device))
      return std::make_unique<QtPortFactory>(line.device, line.baud, line.guessed);
    const TcpParse parsed = parseTcpAddress(line.device);
    if (!parsed.address) return nullptr;
    return std::make_unique<TcpPortFactory>(*parsed.address, clock);
  };
}

}  // namespace tarvex
