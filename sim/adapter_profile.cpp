#include "sim/adapter_profile.h"

#include <utility>

namespace tarvex::sim {

namespace {

// The optional commands some clones lack; a genuine chip knows them all.
const QList<QByteArray> kOptional = {"AT2", "CAF", "DPN", "MA", "JE", "CSM"};

QList<AdapterProfile> profiles() {
  AdapterProfile genuine;
  genuine.name = QStringLiteral("genuine");
  genuine.summary = QStringLiteral("a genuine ELM327 v2.1: every command, the count digit and ATAT2");
  genuine.version = "ELM327 v2.1";
  genuine.countDigit = true;
  genuine.refused = {};
  // With its memory on (the default) a genuine chip starts its search with the
  // protocol it found last, which for an adapter left in its car is the car's.
  genuine.searchTime = Millis{300};

  AdapterProfile clone;
  clone.summary = QStringLiteral("the common clone, ELM327 v1.5: \"?\" to the count digit and ATAT2");

  AdapterProfile minimal;
  minimal.name = QStringLiteral("clone-minimal");
  minimal.summary = QStringLiteral(
      "a poor clone, ELM327 v1.5: \"?\" to the count digit, ATAT2, ATCAF, ATDPN, ATMA, ATJE and "
      "ATCSM; ATH1 ignored; a search of 3 s printing dots; 9600 baud");
  minimal.refused = kOptional;
  minimal.ignoresHeaders = true;
  minimal.searchTime = Millis{3000};
  minimal.searchDot = Millis{1000};
  minimal.lineSpeed = 9600;

  AdapterProfile bluetooth;
  bluetooth.name = QStringLiteral("bluetooth");
  bluetooth.summary = QStringLiteral("the common clone on Bluetooth: ATZ drops the link (ATWS does not)");
  bluetooth.dropsOnReset = true;

  AdapterProfile twoByte;
  twoByte.name = QStringLiteral("two-byte");
  twoByte.summary = QStringLiteral("the common clone, cutting requests to two bytes on the bus");
  twoByte.requestBytes = 2;

  return {genuine, clone, minimal, bluetooth, twoByte};
}

const std::pair<const char*, AdapterWord> kWords[] = {
    {"searching", AdapterWord::Searching},
    {"nodata", AdapterWord::NoData},
    {"unable", AdapterWord::UnableToConnect},
    {"businit", AdapterWord::BusInit},
    {"busbusy", AdapterWord::BusBusy},
    {"buserror", AdapterWord::BusError},
    {"canerror", AdapterWord::CanError},
    {"dataerror", AdapterWord::DataError},
    {"datamark", AdapterWord::DataErrorMark},
    {"bufferfull", AdapterWord::BufferFull},
    {"fberror", AdapterWord::FbError},
    {"err94", AdapterWord::Err94},
    {"actalert", AdapterWord::ActAlert},
    {"lvreset", AdapterWord::LvReset},
    {"stopped", AdapterWord::Stopped},
    {"question", AdapterWord::Question},
    {"noise", AdapterWord::Noise},
};

bool isHexText(QStringView text) {
  for (QChar c : text)
    if (!c.isDigit() && !(c >= u'A' && c <= u'F')) return false;
  return true;
}

}  // namespace

std::optional<AdapterProfile> adapterProfile(QStringView name) {
  for (const AdapterProfile& p : profiles())
    if (p.name == name) return p;
  return std::nullopt;
}

QStringList adapterProfileNames() {
  QStringList names;
  for (const AdapterProfile& p : profiles()) names << p.name;
  return names;
}

std::optional<AdapterWord> adapterWord(QStringView name) {
  for (const auto& [text, word] : kWords)
    if (name == QLatin1String(text)) return word;
  return std::nullopt;
}

QStringList adapterWordNames() {
  QStringList names;
  for (const auto& [text, word] : kWords) names << QLatin1String(text);
  return names;
}

std::optional<WordRule> parseWordRule(QStringView text, QString* error) {
  auto fail = [&](const QString& why) -> std::optional<WordRule> {
    if (error) *error = why;
    return std::nullopt;
  };
  WordRule rule;
  qsizetype end = text.size();
  const qsizetype nth = text.indexOf(u'#'), share = text.indexOf(u'/');
  if (nth >= 0 && share >= 0) return fail(QStringLiteral("a share or #N, not both"));
  if (nth >= 0) {
    bool ok = false;
    rule.nth = text.mid(nth + 1).toInt(&ok);
    if (!ok || rule.nth < 1) return fail(QStringLiteral("#N wants a whole number from 1"));
    end = nth;
  } else if (share >= 0) {
    bool ok = false;
    rule.share = text.mid(share + 1).toDouble(&ok);
    if (!ok || rule.share < 0 || rule.share > 1) return fail(QStringLiteral("the share is from 0 to 1"));
    end = share;
  }
  QStringView head = text.first(end);
  if (const qsizetype at = head.indexOf(u'@'); at >= 0) {
    QString command = head.mid(at + 1).toString().toUpper();
    command.remove(u' ');
    if (!isHexText(command)) return fail(QStringLiteral("the command is hex digits, as \"0902\""));
    rule.command = command.toLatin1();
    head = head.first(at);
  }
  const auto word = adapterWord(head);
  if (!word)
    return fail(QStringLiteral("no word \"%1\"; one of %2").arg(head, adapterWordNames().join(u", ")));
  rule.word = *word;
  return rule;
}

}  // namespace tarvex::sim
