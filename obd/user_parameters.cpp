#include "obd/user_parameters.h"

#include <muParser.h>

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <array>
#include <cmath>

namespace tarvex::obd {
namespace {

constexpr int kFieldCount = 8;
constexpr std::size_t kLetters = 26;  // A to Z

// A byte as two's complement.
double signedByte(double x) {
  return x >= 128 ? x - 256 : x;
}

// Bit n of a whole number; NaN for a bit that no byte has.
double bitOf(double x, double n) {
  if (!(n >= 0 && n < 32) || !(x >= 0 && x < 4294967296.0)) return std::nan("");
  return double((static_cast<std::uint32_t>(x) >> static_cast<unsigned>(n)) & 1u);
}

// "{A:7}" as the function the parser knows: "bit(A,7)".
QString withBitFunctions(const QString& equation) {
  static const QRegularExpression braces(QStringLiteral("\\{\\s*([A-Z])\\s*:\\s*([0-7])\\s*\\}"));
  QString out = equation;
  out.replace(braces, QStringLiteral("bit(\\1,\\2)"));
  return out;
}

std::optional<int> hexNumber(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  for (const QChar c : text)
    if (!c.isDigit() && !(c >= QLatin1Char('A') && c <= QLatin1Char('F'))) return std::nullopt;
  bool ok = false;
  const int value = text.toInt(&ok, 16);
  return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<double> plainNumber(const QString& text) {
  bool ok = false;
  const double value = QLocale::c().toDouble(text.trimmed(), &ok);
  return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::nullopt_t refuse(QString* reason, const QString& text) {
  if (reason) *reason = text;
  return std::nullopt;
}

struct Record {
  int line;
  QStringList fields;
  QString broken;  // why the record is no CSV; empty when it is
};

// RFC 4180 records, each with the line it starts on.
std::vector<Record> csvRecords(const QString& text) {
  std::vector<Record> out;
  qsizetype at = 0;
  int line = 1;
  const qsizetype n = text.size();
  while (at < n) {
    Record record{line, {}, {}};
    QString field;
    bool more = true;
    while (more) {
      if (at < n && text[at] == QLatin1Char('"')) {
        ++at;
        for (;;) {
          if (at >= n) {
            record.broken = QStringLiteral("a quote is left open");
            break;
          }
          const QChar c = text[at++];
          if (c == QLatin1Char('"')) {
            if (at < n && text[at] == QLatin1Char('"')) {
              field += c;
              ++at;
              continue;
            }
            break;
          }
          if (c == QLatin1Char('\n')) ++line;
          field += c;
        }
        if (record.broken.isEmpty() && at < n && text[at] != QLatin1Char(',') &&
            text[at] != QLatin1Char('\r') && text[at] != QLatin1Char('\n'))
          record.broken = QStringLiteral("text follows a closing quote");
      }
      // The rest of an unquoted field (or, after a broken quote, of the line).
      while (at < n && text[at] != QLatin1Char(',') && text[at] != QLatin1Char('\r') &&
             text[at] != QLatin1Char('\n'))
        field += text[at++];
      record.fields << field;
      field.clear();
      if (at < n && text[at] == QLatin1Char(',')) {
        ++at;
      } else {
        more = false;
      }
    }
    if (at < n && text[at] == QLatin1Char('\r')) ++at;
    if (at < n && text[at] == QLatin1Char('\n')) ++at;
    ++line;
    out.push_back(std::move(record));
  }
  return out;
}

bool blank(const Record& r) {
  return r.broken.isEmpty() && r.fields.size() == 1 && r.fields[0].trimmed().isEmpty();
}

}  // namespace

struct UserParameter::Formula {
  mu::Parser parser;
  std::array<double, kLetters> bytes{};
  std::size_t needed = 0;
};

std::optional<UserParameter> UserParameter::fromFields(const QStringList& fields, QString* reason) {
  if (fields.size() != kFieldCount)
    return refuse(reason,
                  QStringLiteral("%1 fields where there should be %2").arg(fields.size()).arg(kFieldCount));
  UserParameter p;
  p.name_ = fields[0].trimmed();
  p.shortName_ = fields[1].trimmed();
  if (p.shortName_.isEmpty()) return refuse(reason, QStringLiteral("no short name"));

  QString request = fields[2].trimmed().toUpper();
  if (request.startsWith(QLatin1String("0X"))) request.remove(0, 2);
  const std::optional<int> number = hexNumber(request);
  if (!number || request.size() % 2 != 0 || request.size() > 6)
    return refuse(reason,
                  QStringLiteral("the request \"%1\" is no service and PID in hex").arg(fields[2].trimmed()));
  p.service_ = hexNumber(request.left(2)).value_or(-1);
  const qsizetype pidDigits = p.service_ == 0x22 ? 4 : 2;
  if (p.service_ != 0x01 && p.service_ != 0x21 && p.service_ != 0x22)
    return refuse(reason, QStringLiteral("the request \"%1\" is of service %2, not 01, 21 or 22")
                              .arg(fields[2].trimmed(), request.left(2)));
  if (request.size() != 2 + pidDigits)
    return refuse(reason, QStringLiteral("the request \"%1\" needs a PID of %2 hex digits after service %3")
                              .arg(fields[2].trimmed())
                              .arg(pidDigits)
                              .arg(request.left(2)));
  p.pid_ = hexNumber(request.mid(2)).value_or(0);

  p.equation_ = fields[3].trimmed();
  auto formula = std::make_shared<Formula>();
  const QString readable = withBitFunctions(p.equation_);
  try {
    mu::Parser& parser = formula->parser;
    for (std::size_t i = 0; i < kLetters; ++i)
      parser.DefineVar(std::string(1, char('A' + i)), &formula->bytes[i]);
    parser.DefineFun("signed", signedByte);
    parser.DefineFun("Signed", signedByte);
    parser.DefineFun("bit", bitOf);
    parser.SetExpr(readable.toStdString());
    for (const auto& [variable, where] : parser.GetUsedVar())
      formula->needed =
          std::max(formula->needed, static_cast<std::size_t>(where - formula->bytes.data()) + 1);
    parser.Eval();  // turns it into byte code once, here
  } catch (const mu::Parser::exception_type& e) {
    QString text = QStringLiteral("the equation \"%1\" does not parse: %2")
                       .arg(p.equation_, QString::fromStdString(e.GetMsg()));
    if (readable != p.equation_) text += QStringLiteral(" (read as \"%1\")").arg(readable);
    return refuse(reason, text);
  }
  p.formula_ = std::move(formula);

  p.min_ = plainNumber(fields[4]);
  p.max_ = plainNumber(fields[5]);
  p.unit_ = fields[6].trimmed();
  p.header_ = fields[7].trimmed().toUpper();
  if (!p.header_.isEmpty() && (!hexNumber(p.header_) || (p.header_.size() != 3 && p.header_.size() != 6)))
    return refuse(reason,
                  QStringLiteral("the header \"%1\" is not 3 or 6 hex digits").arg(fields[7].trimmed()));
  return p;
}

QString UserParameter::requestText() const {
  return service_ == 0x22 ? QString::asprintf("%02X%04X", service_, pid_)
                          : QString::asprintf("%02X%02X", service_, pid_);
}

std::optional<Bytes> UserParameter::dataOf(Bytes message) const {
  const std::size_t echo = service_ == 0x22 ? 3 : 2;
  if (message.size() < echo || message[0] != service_ + 0x40) return std::nullopt;
  const int echoed = echo == 3 ? message[1] << 8 | message[2] : message[1];
  if (echoed != pid_) return std::nullopt;
  return message.subspan(echo);
}

std::size_t UserParameter::dataBytes() const {
  return formula_->needed;
}

std::optional<double> UserParameter::decode(Bytes data) const {
  Formula& f = *formula_;
  if (data.size() < f.needed) return std::nullopt;
  for (std::size_t i = 0; i < f.needed; ++i) f.bytes[i] = data[i];
  double value = 0;
  try {
    value = f.parser.Eval();
  } catch (const mu::Parser::exception_type&) {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

double UserParameter::step() const {
  return decodeStep(dataBytes(), [this](Bytes b) { return decode(b); });
}

UserParameterFile readUserParameters(const QByteArray& content) {
  // The decoder drops a byte order mark.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(content);
  if (utf8.hasError()) text = QString::fromLatin1(content);

  UserParameterFile out;
  bool first = true;
  for (const Record& r : csvRecords(text)) {
    if (blank(r)) continue;
    const bool header = first && r.fields.size() > 2 &&
                        r.fields[2].trimmed().compare(QLatin1String("ModeAndPID"), Qt::CaseInsensitive) == 0;
    first = false;
    if (header) continue;
    if (!r.broken.isEmpty()) {
      out.refused.push_back({r.line, r.broken});
      continue;
    }
    QString reason;
    std::optional<UserParameter> p = UserParameter::fromFields(r.fields, &reason);
    if (p) {
      const auto same =
          std::find_if(out.parameters.begin(), out.parameters.end(), [&](const UserParameter& q) {
            return q.shortName().compare(p->shortName(), Qt::CaseInsensitive) == 0;
          });
      if (same != out.parameters.end()) {
        reason = QStringLiteral("the short name \"%1\" is already taken").arg(p->shortName());
        p.reset();
      }
    }
    if (p) {
      out.parameters.push_back(std::move(*p));
    } else {
      out.refused.push_back({r.line, reason});
    }
  }
  return out;
}

UserParameterFile loadUserParameters(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    UserParameterFile out;
    out.failure = file.errorString();
    return out;
  }
  return readUserParameters(file.readAll());
}

double decodeStep(std::size_t bytes, const std::function<std::optional<double>(Bytes)>& decode) {
  std::vector<std::uint8_t> data(bytes, 0);
  const std::optional<double> zero = decode(data);
  if (!zero) return 0;
  double step = 0;
  for (std::size_t i = 0; i < bytes; ++i) {
    data[i] = 1;
    const std::optional<double> one = decode(data);
    data[i] = 0;
    if (!one) continue;
    const double change = std::abs(*one - *zero);
    if (change > 0 && std::isfinite(change) && (step == 0 || change < step)) step = change;
  }
  return step;
}

double pidStep(const Pid& pid) {
  return decodeStep(static_cast<std::size_t>(pid.bytes), [&pid](Bytes b) -> std::optional<double> {
    const std::optional<Value> v = pid.decode(b);
    if (!v || v->readings.empty()) return std::nullopt;
    return v->readings.front().value;
  });
}

}  // namespace tarvex::obd
