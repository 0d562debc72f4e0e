#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "core/clock.h"

namespace tarvex::sim {

// What tells one make of ELM327 adapter from another as users meet them. The defaults are the
// common clone that calls itself "ELM327 v1.5".
struct AdapterProfile {
  QString name = QStringLiteral("clone");
  QString summary;                                        // one line for --help
  QByteArray version = "ELM327 v1.5";                     // ATI, and the banner after a reset
  QByteArray description = "OBDII to RS232 Interpreter";  // AT@1
  // The count digit after a request ("010C1": return after one answer), from v1.3 on; where it
  // is not known the request is answered "?".
  bool countDigit = false;
  // AT commands answered "?": those that begin with one of these, written without "AT" and
  // without blanks ("AT2" is ATAT2, "CAF" both ATCAF0 and ATCAF1).
  QList<QByteArray> refused = {"AT2"};
  bool ignoresHeaders = false;  // ATH1 says OK, yet the headers stay off
  Millis searchTime{1000};      // the automatic protocol search, before the first answer
  // A dot every this long while it searches, after "SEARCHING..." and with no line end before
  // the answer that follows (0: no dots).
  Millis searchDot{0};
  bool dropsOnReset = false;  // ATZ drops a Bluetooth link; the warm start (ATWS) does not
  int requestBytes = 0;       // requests are cut to this many bytes on the bus (0: sent whole)
  int lineSpeed = 38400;      // the speed it leaves the factory at
};

// The named profiles: genuine, clone, clone-minimal, bluetooth, two-byte.
std::optional<AdapterProfile> adapterProfile(QStringView name);
QStringList adapterProfileNames();

// The adapter's own words, put where the car's answer would be.
enum class AdapterWord {
  None,
  Searching,        // "SEARCHING..." before the answer
  BusInit,          // "BUS INIT: ...ERROR" after the bus initialisation's time
  CanError,         // "CAN ERROR" after the time-out
  Noise,            // a few random bytes before the answer (not a word: a poor link)
  NoData,           // "NO DATA" after the time-out
  UnableToConnect,  // "UNABLE TO CONNECT" after the time-out
  BusBusy,          // "BUS BUSY" at once
  BusError,         // "BUS ERROR" when the answer would come
  DataError,        // "DATA ERROR" instead of the answer
  DataErrorMark,    // the answer with "<DATA ERROR" after its last line (a failed check byte)
  BufferFull,       // the answer's first line, then "BUFFER FULL"
  FbError,          // "FB ERROR" at once
  Err94,            // "ERR94" at once, then a reset (the banner); the CAN search is barred until ATFE
  ActAlert,         // "ACT ALERT" after the time-out, then low power until a character wakes it
  LvReset,          // "LV RESET" at once, then a restart as after ATZ
  Stopped,          // "STOPPED" when the answer would come
  Question,         // "?" at once
};
// The name the faults first had for the few words they knew.
using Injection = AdapterWord;

// Makes the adapter say `word` instead of the car's answer to matching requests.
struct WordRule {
  AdapterWord word = AdapterWord::None;
  // Requests that begin with these hex digits (upper case, no blanks; the count digit aside);
  // empty: every request.
  QByteArray command;
  double share = 1;  // the share of matching requests, drawn from the adapter's seeded generator
  int nth = 0;       // only the nth matching request, counted from 1 (0: by share)
};

// Names of the words for the command line: canerror, datamark, err94 ...
std::optional<AdapterWord> adapterWord(QStringView name);
QStringList adapterWordNames();
// "KIND[@COMMAND][/SHARE|#N]", e.g. "canerror@03", "datamark@0902#2", "err94/0.01".
std::optional<WordRule> parseWordRule(QStringView text, QString* error = nullptr);

}  // namespace tarvex::sim
