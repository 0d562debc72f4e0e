#pragma once

#include <QSet>
#include <QString>

namespace tarvex {

// What the program has learnt of the adapter behind a device during this run:
// clones refuse or ignore commands a genuine chip takes. Every window that
// talks to the device shares it, so a refusal is met once.
struct AdapterTraits {
  enum class Support { kUnknown, kYes, kNo };
  Support countDigit = Support::kUnknown;  // "010C1": return after one answer
  QSet<QString> refused;                   // optional commands answered "?"
  bool headersIgnored = false;             // ATH1 said OK, and answers came without headers
};

}  // namespace tarvex
