#include "replay/time_reader.h"

#include <QDateTime>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace tarvex {

namespace {

using Token = TimeReader::Token;

// Marks that set the direction of right-to-left text (ar_EG writes them into
// its dates): they show nothing and mean nothing to the time.
bool isDirectionMark(char16_t c) {
  return c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// The text without direction marks, and with any script's decimal digits
// (Arabic-Indic, Devanagari, ...) as ASCII ones.
QString plainDigits(const QString& text) {
  QString plain;
  plain.reserve(text.size());
  for (const QChar c : text) {
    if (isDirectionMark(c.unicode())) continue;
    plain += c.category() == QChar::Number_DecimalDigit && c.unicode() >= 0x80
                 ? QChar(char16_t(u'0' + c.digitValue()))
                 : c;
  }
  return plain;
}

// Splits a QLocale date-time form into pieces; false when it holds names
// (of months or days) that only QLocale reads.
bool tokenize(const QString& format, const QLocale& locale, std::vector<Token>& tokens) {
  const bool twelveHour = format.contains(QLatin1Char('a'), Qt::CaseInsensitive);
  const auto literal = [&tokens](QChar c) {
    if (isDirectionMark(c.unicode())) return;
    if (tokens.empty() || tokens.back().type != Token::kLiteral) tokens.push_back({Token::kLiteral, {}, {}});
    tokens.back().literal += c;
  };
  for (qsizetype i = 0; i < format.size();) {
    const QChar c = format[i];
    if (c == QLatin1Char('\'')) {
      const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
      if (end == i + 1) {
        literal(c);  // '' is a quote
      } else {
        for (qsizetype k = i + 1; k < (end < 0 ? format.size() : end); ++k) literal(format[k]);
      }
      i = end < 0 ? format.size() : end + 1;
      continue;
    }
    qsizetype run = 1;
    while (i + run < format.size() && format[i + run] == c) ++run;
    const char letter = c.toLatin1();
    Token::Type type = Token::kLiteral;
    switch (letter) {
      case 'd':
        if (run > 4) return false;
        type = run > 2 ? Token::kDayName : Token::kDay;
        break;
      case 'M':
        if (run > 4) return false;
        type = run > 2 ? Token::kMonthName : Token::kMonth;
        break;
      case 'y':
        if (run != 2 && run != 4) return false;
        type = run == 2 ? Token::kYear2 : Token::kYear4;
        break;
      case 'h':
        type = twelveHour ? Token::kHour12 : Token::kHour24;
        break;
      case 'H':
        type = Token::kHour24;
        break;
      case 'm':
        type = Token::kMinute;
        break;
      case 's':
        type = Token::kSecond;
        break;
      case 'z':
        type = Token::kMillis;
        break;
      case 'a':
      case 'A':
        type = Token::kAmPm;
        // "AP" and "ap" are one piece.
        if (i + 1 < format.size() && format[i + 1].toLower() == QLatin1Char('p')) run = 2;
        break;
      default:
        for (qsizetype k = 0; k < run; ++k) literal(c);
        i += run;
        continue;
    }
    if (type == Token::kAmPm && run > 2) run = 1;
    QStringList names;
    const QLocale::FormatType form = run == 4 ? QLocale::LongFormat : QLocale::ShortFormat;
    if (type == Token::kMonthName)
      for (int k = 1; k <= 12; ++k) names.append(locale.monthName(k, form));
    if (type == Token::kDayName)
      for (int k = 1; k <= 7; ++k) names.append(locale.dayName(k, form));
    tokens.push_back({type, {}, names});
    i += run;
  }
  return true;
}

bool isBlank(QChar c) {
  return c.isSpace();
}

// Reads up to `most` digits; at least one.
bool digits(const QString& text, qsizetype& at, int most, int& value) {
  value = 0;
  int n = 0;
  while (at < text.size() && n < most) {
    const char16_t c = text[at].unicode();
    if (c < u'0' || c > u'9') break;
    value = value * 10 + (c - u'0');
    ++at;
    ++n;
  }
  return n > 0;
}

bool startsWithAt(const QString& text, qsizetype at, const QString& word) {
  return !word.isEmpty() && QStringView(text).mid(at).startsWith(word, Qt::CaseInsensitive);
}

std::optional<double> plainNumber(const QString& text) {
  const QByteArray bytes = text.trimmed().toLatin1().replace(',', '.');
  double value = 0;
  const char* end = bytes.constData() + bytes.size();
  const auto [ptr, ec] = std::from_chars(bytes.constData(), end, value);
  if (bytes.isEmpty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

TimeReader TimeReader::forLocale(const QLocale& locale) {
  TimeReader reader;
  reader.kind_ = Kind::kLocaleDateTime;
  reader.locale_ = locale;
  reader.format_ = locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') +
                   timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
  reader.slow_ = !tokenize(reader.format_, locale, reader.tokens_);
  reader.amText_ = plainDigits(locale.amText());
  reader.pmText_ = plainDigits(locale.pmText());
  return reader;
}

std::optional<TimeReader> TimeReader::detect(const QStringList& samples, const QString& unit) {
  if (samples.isEmpty()) return std::nullopt;
  const auto readsAll = [&samples](const TimeReader& reader) {
    for (const QString& sample : samples)
      if (!reader.read(sample)) return false;
    return true;
  };
  TimeReader seconds;
  seconds.kind_ = Kind::kSeconds;
  seconds.scale_ = unit.trimmed().compare(QLatin1String("ms"), Qt::CaseInsensitive) == 0 ? 1.0 : 1000.0;
  if (readsAll(seconds)) return seconds;

  std::vector<QLocale> candidates{QLocale::system(), QLocale::c()};
  for (const char* name :
       {"en_US", "en_GB", "de_DE", "fr_FR", "es_ES", "it_IT", "nl_NL", "pt_BR", "pt_PT", "sv_SE",
        "da_DK", "nb_NO", "fi_FI", "pl_PL", "cs_CZ", "hu_HU", "ru_RU", "uk_UA", "tr_TR", "el_GR",
        "ro_RO", "ja_JP", "zh_CN", "ko_KR", "en_AU", "en_CA", "fr_CA", "de_CH", "en_IN", "ar_EG"})
    candidates.emplace_back(QString::fromLatin1(name));
  for (const QLocale& locale : candidates) {
    TimeReader reader = forLocale(locale);
    if (readsAll(reader)) return reader;
  }
  TimeReader iso;
  iso.kind_ = Kind::kIsoDateTime;
  if (readsAll(iso)) return iso;
  return std::nullopt;
}

QString TimeReader::name() const {
  switch (kind_) {
    case Kind::kLocaleDateTime:
      return locale_.name();
    case Kind::kIsoDateTime:
      return QStringLiteral("ISO 8601");
    case Kind::kSeconds:
      return scale_ == 1.0 ? QStringLiteral("milliseconds") : QStringLiteral("seconds");
  }
  return {};
}

std::optional<std::int64_t> TimeReader::read(const QString& text) const {
  switch (kind_) {
    case Kind::kSeconds: {
      const std::optional<double> value = plainNumber(text);
      if (!value || std::abs(*value * scale_) > 9e15) return std::nullopt;
      return std::llround(*value * scale_);
    }
    case Kind::kIsoDateTime: {
      const QDateTime when = QDateTime::fromString(text.trimmed(), Qt::ISODate);
      if (!when.isValid()) return std::nullopt;
      return when.toMSecsSinceEpoch();
    }
    case Kind::kLocaleDateTime:
      break;
  }
  if (!slow_) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    return readTokens(ascii ? text : plainDigits(text));
  }
  QDateTime when = locale_.toDateTime(text.trimmed(), format_);
  if (!when.isValid()) return std::nullopt;
  // Two-digit years are read as 19xx; a log is younger than that.
  if (!format_.contains(QLatin1String("yyyy")) && when.date().year() < 2000) when = when.addYears(100);
  return when.toMSecsSinceEpoch();
}

std::optional<std::int64_t> TimeReader::readTokens(const QString& text) const {
  int year = -1, month = -1, day = -1, hour = 0, minute = 0, second = 0, millis = 0;
  int pm = -1;  // -1: no AM/PM piece
  qsizetype at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  for (const Token& token : tokens_) {
    int value = 0;
    switch (token.type) {
      case Token::kLiteral:
        for (const QChar c : token.literal) {
          if (isBlank(c)) {
            // A blank of any kind (plain, no-break, narrow) for a blank.
            while (at < text.size() && isBlank(text[at])) ++at;
          } else if (at < text.size() && text[at] == c) {
            ++at;
          } else {
            return std::nullopt;
          }
        }
        continue;
      case Token::kMonthName:
      case Token::kDayName: {
        // The longest name that fits ("June" before "Jun").
        int found = 0;
        qsizetype length = 0;
        for (qsizetype i = 0; i < token.names.size(); ++i) {
          if (token.names[i].size() > length && startsWithAt(text, at, token.names[i])) {
            found = int(i) + 1;
            length = token.names[i].size();
          }
        }
        if (found == 0) return std::nullopt;
        if (token.type == Token::kMonthName) month = found;
        at += length;
        continue;
      }
      case Token::kAmPm:
        if (startsWithAt(text, at, amText_)) {
          pm = 0;
          at += amText_.size();
        } else if (startsWithAt(text, at, pmText_)) {
          pm = 1;
          at += pmText_.size();
        } else if (startsWithAt(text, at, QStringLiteral("AM")) ||
                   startsWithAt(text, at, QStringLiteral("PM"))) {
          pm = text[at].toUpper() == QLatin1Char('P') ? 1 : 0;
          at += 2;
        } else {
          return std::nullopt;
        }
        continue;
      default:
        break;
    }
    const int most = token.type == Token::kYear4 ? 4 : token.type == Token::kMillis ? 3 : 2;
    if (!digits(text, at, most, value)) return std::nullopt;
    switch (token.type) {
      case Token::kDay:
        day = value;
        break;
      case Token::kMonth:
        month = value;
        break;
      case Token::kYear2:
        year = 2000 + value;
        break;
      case Token::kYear4:
        year = value;
        break;
      case Token::kHour12:
        if (value < 1 || value > 12) return std::nullopt;
        hour = value;
        break;
      case Token::kHour24:
        if (value > 23) return std::nullopt;
        hour = value;
        break;
      case Token::kMinute:
        if (value > 59) return std::nullopt;
        minute = value;
        break;
      case Token::kSecond:
        if (value > 59) return std::nullopt;
        second = value;
        break;
      case Token::kMillis:
        millis = value;
        break;
      default:
        break;
    }
  }
  while (at < text.size() && isBlank(text[at])) ++at;
  if (at != text.size() || !QDate::isValid(year, month, day)) return std::nullopt;
  if (pm >= 0) hour = hour % 12 + (pm ? 12 : 0);
  const std::int64_t days = QDate(year, month, day).toJulianDay() - QDate(1970, 1, 1).toJulianDay();
  const std::int64_t wall = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millis;
  return localToUtc(wall);
}

std::int64_t TimeReader::localToUtc(std::int64_t wallMs) const {
  constexpr std::int64_t kHour = 3600000;
  const std::int64_t hour = wallMs >= 0 ? wallMs / kHour : (wallMs - kHour + 1) / kHour;
  if (hour != cachedHour_) {
    const QDateTime wall = QDateTime::fromMSecsSinceEpoch(hour * kHour, Qt::UTC);
    cachedOffsetMs_ = std::int64_t(QDateTime(wall.date(), wall.time(), Qt::LocalTime).offsetFromUtc()) * 1000;
    cachedHour_ = hour;
  }
  return wallMs - cachedOffsetMs_;
}

QString TimeReader::text(std::int64_t ms) const {
  switch (kind_) {
    case Kind::kSeconds:
      return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
    case Kind::kIsoDateTime:
      return QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODate);
    case Kind::kLocaleDateTime:
      break;
  }
  const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms);
  return locale_.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale_.toString(when.time(), timeFormatWithoutZone(locale_.timeFormat(QLocale::LongFormat)));
}

}  // namespace tarvex
