#include "link/adapter_words.h"

#include <array>
#include <utility>

namespace tarvex {
namespace {

constexpr std::array<std::pair<AdapterWord, const char*>, 14> kWords{{
    {AdapterWord::kUnknownCommand, "?"},
    {AdapterWord::kNoData, "NO DATA"},
    {AdapterWord::kUnableToConnect, "UNABLE TO CONNECT"},
    {AdapterWord::kBusInitError, "BUS INIT: ...ERROR"},
    {AdapterWord::kBusBusy, "BUS BUSY"},
    {AdapterWord::kBusError, "BUS ERROR"},
    {AdapterWord::kCanError, "CAN ERROR"},
    {AdapterWord::kDataError, "DATA ERROR"},
    {AdapterWord::kBufferFull, "BUFFER FULL"},
    {AdapterWord::kStopped, "STOPPED"},
    {AdapterWord::kFeedbackError, "FB ERROR"},
    {AdapterWord::kFatalCan, "ERR94"},
    {AdapterWord::kLowVoltageReset, "LV RESET"},
    {AdapterWord::kActivityAlert, "ACT ALERT"},
}};

// Without blanks and in capitals: clones differ in both.
QString squeezed(QStringView text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text)
    if (!c.isSpace()) out += c.toUpper();
  return out;
}

}  // namespace

std::optional<AdapterWord> adapterWord(QStringView line) {
  const QString s = squeezed(line);
  if (s.isEmpty()) return std::nullopt;
  // A bad checksum marks the line it spoiled; the data before it is not to be trusted.
  if (s.endsWith(QLatin1String("<DATAERROR"))) return AdapterWord::kDataError;
  // The K-line wake-up prints its progress as dots before its verdict.
  if (s.startsWith(QLatin1String("BUSINIT:"))) {
    if (s.endsWith(QLatin1String("ERROR"))) return AdapterWord::kBusInitError;
    return std::nullopt;
  }
  // Some adapters print ERR94 with more after it ("ERR94 CAN ERROR").
  if (s.startsWith(QLatin1String("ERR94"))) return AdapterWord::kFatalCan;
  for (const auto& [word, text] : kWords)
    if (s == squeezed(QString::fromLatin1(text))) return word;
  return std::nullopt;
}

QString adapterWordText(AdapterWord word) {
  for (const auto& [w, text] : kWords)
    if (w == word) return QString::fromLatin1(text);
  return {};
}

}  // namespace tarvex
