#include "obd/answer.h"

#include <QHash>
#include <array>

namespace tarvex::obd {
namespace {

using namespace std::string_view_literals;

constexpr std::array kProtocols{
    Protocol{'1', "SAE J1850 PWM (41.6 kbaud)"sv, Bus::kLegacy},
    Protocol{'2', "SAE J1850 VPW (10.4 kbaud)"sv, Bus::kLegacy},
    Protocol{'3', "ISO 9141-2 (5 baud init)"sv, Bus::kLegacy},
    Protocol{'4', "ISO 14230-4 KWP (5 baud init)"sv, Bus::kLegacy},
    Protocol{'5', "ISO 14230-4 KWP (fast init)"sv, Bus::kLegacy},
    Protocol{'6', "ISO 15765-4 CAN (11 bit ID, 500 kbaud)"sv, Bus::kCan11},
    Protocol{'7', "ISO 15765-4 CAN (29 bit ID, 500 kbaud)"sv, Bus::kCan29},
    Protocol{'8', "ISO 15765-4 CAN (11 bit ID, 250 kbaud)"sv, Bus::kCan11},
    Protocol{'9', "ISO 15765-4 CAN (29 bit ID, 250 kbaud)"sv, Bus::kCan29},
    Protocol{'A', "SAE J1939 CAN (29 bit ID, 250 kbaud)"sv, Bus::kCan29},
    Protocol{'B', "User1 CAN (11 bit ID, 125 kbaud)"sv, Bus::kCan11},
    Protocol{'C', "User2 CAN (11 bit ID, 50 kbaud)"sv, Bus::kCan11},
};

int hexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

std::optional<std::vector<std::uint8_t>> hexBytes(QStringView text) {
  if (text.isEmpty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(text.size() / 2));
  for (qsizetype i = 0; i < text.size(); i += 2) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

bool allHex(QStringView text) {
  for (QChar c : text)
    if (hexDigit(c) < 0) return false;
  return !text.isEmpty();
}

// Answers have the request's service plus 0x40 (or 0x7F for a refusal) in
// front; anything lower is an echo of a request, not an answer.
bool isAnswer(const std::vector<std::uint8_t>& data) {
  return !data.empty() && data[0] >= 0x40;
}

// Collects the lines of one request's text into messages. A multi-frame
// answer stays open under its sender until its announced length is there.
class Reader {
 public:
  Reader(Bus bus, bool headers) : bus_(bus), headers_(headers) {}

  bool line(QStringView text) {
    if (bus_ == Bus::kLegacy) return legacy(text);
    return headers_ ? canWithHeaders(text) : canWithoutHeaders(text);
  }

  std::vector<Message> take() { return std::move(messages_); }

 private:
  struct Open {
    std::size_t index;
    std::size_t length;
    int nextFrame;
  };

  bool legacy(QStringView text) {
    auto bytes = hexBytes(text);
    if (!bytes) return false;
    Message m;
    if (headers_) {
      // Three header bytes (priority, target, sender) and a checksum last.
      if (bytes->size() < 5) return false;
      m.source = QString::asprintf("%02X", (*bytes)[2]);
      m.data.assign(bytes->begin() + 3, bytes->end() - 1);
    } else {
      m.data = std::move(*bytes);
    }
    if (!isAnswer(m.data)) return false;
    messages_.push_back(std::move(m));
    return true;
  }

  bool canWithoutHeaders(QStringView text) {
    if (text.size() == 3 && allHex(text)) return start(QString(), text.toString().toUInt(nullptr, 16));
    if (text.size() > 2 && text[1] == QLatin1Char(':') && hexDigit(text[0]) >= 0) {
      auto bytes = hexBytes(text.mid(2));
      return bytes && append(QString(), hexDigit(text[0]), *bytes, 0);
    }
    return single(QString(), hexBytes(text));
  }

  bool canWithHeaders(QStringView text) {
    const qsizetype idLength = bus_ == Bus::kCan11 ? 3 : 8;
    if (text.size() <= idLength || !allHex(text.left(idLength))) return false;
    const QString id = text.left(idLength).toString();
    auto bytes = hexBytes(text.mid(idLength));
    if (!bytes) return false;
    const int pci = (*bytes)[0];
    switch (pci >> 4) {
      case 0: {  // single frame: its length, then the data
        const auto length = static_cast<std::size_t>(pci & 0x0F);
        if (length == 0 || bytes->size() < length + 1) return false;
        return single(id, std::vector<std::uint8_t>(bytes->begin() + 1, bytes->begin() + 1 + length));
      }
      case 1:  // first frame: a 12-bit length, then the first six bytes
        if (bytes->size() < 3) return false;
        return start(id, static_cast<std::size_t>((pci & 0x0F) << 8 | (*bytes)[1])) &&
               append(id, 0, *bytes, 2);
      case 2:  // consecutive frame: its number modulo 16, then up to seven bytes
        return append(id, pci & 0x0F, *bytes, 1);
      case 3:  // flow control: the adapter's own business
        return true;
      default:
        return false;
    }
  }

  bool single(const QString& source, std::optional<std::vector<std::uint8_t>> data) {
    if (!data || !isAnswer(*data)) return false;
    messages_.push_back(Message{source, std::move(*data), true});
    return true;
  }

  bool start(const QString& source, std::size_t length) {
    if (length == 0) return false;
    open_.insert(source, Open{messages_.size(), length, 0});
    messages_.push_back(Message{source, {}, false});
    return true;
  }

  bool append(const QString& source, int frame, const std::vector<std::uint8_t>& bytes, std::size_t from) {
    const auto it = open_.find(source);
    if (it == open_.end() || it->nextFrame != frame) return false;
    Message& m = messages_[it->index];
    m.data.insert(m.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
    it->nextFrame = (frame + 1) % 16;
    if (m.data.size() >= it->length) {
      m.data.resize(it->length);  // the last frame's padding
      m.complete = isAnswer(m.data);
      open_.erase(it);
    }
    return true;
  }

  Bus bus_;
  bool headers_;
  std::vector<Message> messages_;
  QHash<QString, Open> open_;
};

}  // namespace

std::optional<Protocol> protocolFromDpn(const QString& answer) {
  QString text = answer.trimmed().toUpper();
  if (text.size() == 2 && text.startsWith(QLatin1Char('A'))) text.remove(0, 1);
  if (text.size() != 1) return std::nullopt;
  for (const Protocol& p : kProtocols)
    if (text[0] == QLatin1Char(p.number)) return p;
  return std::nullopt;
}

std::optional<Protocol> protocolFromDp(const QString& answer) {
  // "AUTO, " before the name when the adapter found it by its search.
  QString text = answer.trimmed().toUpper();
  text.remove(QLatin1Char(' '));
  text.remove(QLatin1Char(','));
  // The adapter's own short names, as it prints them, for each protocol number.
  static const std::pair<const char*, char> kNames[] = {
      {"SAEJ1850PWM", '1'},           {"SAEJ1850VPW", '2'},           {"ISO9141-2", '3'},
      {"ISO14230-4(KWP5BAUD)", '4'},  {"ISO14230-4(KWPFAST)", '5'},   {"ISO15765-4(CAN11/500)", '6'},
      {"ISO15765-4(CAN29/500)", '7'}, {"ISO15765-4(CAN11/250)", '8'}, {"ISO15765-4(CAN29/250)", '9'},
      {"SAEJ1939(CAN29/250)", 'A'},   {"USER1(CAN11/125)", 'B'},      {"USER2(CAN11/50)", 'C'},
  };
  for (const auto& [name, number] : kNames)
    if (text.endsWith(QLatin1String(name))) return protocolFromDpn(QString(QLatin1Char(number)));
  return std::nullopt;
}

std::optional<Bus> busFromAnswer(const QStringList& lines) {
  for (const QString& raw : lines) {
    const QStringList tokens = raw.trimmed().toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (tokens.size() < 3 || !allHex(tokens[0]) || !allHex(tokens[1])) continue;
    if (tokens[0].size() == 3) return Bus::kCan11;
    if (tokens[0].size() == 8 && tokens[0].startsWith(QLatin1String("18DA"))) return Bus::kCan29;
    if (tokens.size() >= 5 && tokens[0] == QLatin1String("18") && tokens[1] == QLatin1String("DA"))
      return Bus::kCan29;
    // Three header bytes, then the answer's service byte (0x40 and up) first.
    if (tokens.size() >= 5 && tokens[3].size() == 2 && hexDigit(tokens[3][0]) >= 4) return Bus::kLegacy;
  }
  return std::nullopt;
}

Protocol guessedProtocol(Bus bus) {
  switch (bus) {
    case Bus::kCan11:
      return {'6', "ISO 15765-4 CAN, 11 bit ID (told by its answers)"sv, bus};
    case Bus::kCan29:
      return {'7', "ISO 15765-4 CAN, 29 bit ID (told by its answers)"sv, bus};
    case Bus::kLegacy:
      break;
  }
  return {'0', "J1850 or ISO 9141/14230 (told by its answers)"sv, Bus::kLegacy};
}

Answer parseAnswer(const QString& text, Bus bus, bool headers) {
  Answer out;
  Reader reader(bus, headers);
  QString all = text;
  all.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  for (const QString& raw : all.split(QLatin1Char('\r'), Qt::SkipEmptyParts)) {
    QString line = raw.toUpper();
    line.remove(QLatin1Char(' '));
    line.remove(QLatin1Char('>'));
    // Some clones print their search's dots on the line of the first answer.
    while (line.startsWith(QLatin1Char('.'))) line.remove(0, 1);
    if (line.isEmpty() || line.startsWith(QLatin1String("SEARCHING")) ||
        line.startsWith(QLatin1String("BUSINIT")))
      continue;
    if (!reader.line(line)) out.notes << raw.trimmed();
  }
  out.messages = reader.take();
  return out;
}

QString controllerName(const QString& source) {
  // Answers without addresses are told as one controller's.
  if (source.isEmpty()) return QStringLiteral("the car");
  bool ok = false;
  const uint address = source.toUInt(&ok, 16);
  if (!ok) return source;
  // 11-bit CAN answers come from 7E8 on; elsewhere the sender is the last byte.
  const bool engine = source.size() == 3 ? address == 0x7E8 : (address & 0xFF) == 0x10;
  const bool transmission = source.size() == 3 ? address == 0x7E9 : (address & 0xFF) == 0x18;
  if (engine) return QStringLiteral("engine (%1)").arg(source);
  if (transmission) return QStringLiteral("transmission (%1)").arg(source);
  return source;
}

}  // namespace tarvex::obd
