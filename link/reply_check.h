#pragma once

#include <QString>
#include <optional>

namespace tarvex {

// What a complete reply must look like: the prefix the check searches for, the
// length the check counts for it (the main window counts 8 even for an empty
// prefix), and how many data bytes follow.
struct ReplyShape {
  QString prefix;
  int prefixLength = 8;
  int bytes = 0;
};

// The reply check on a receive buffer. A reply is complete when the buffer
// holds the prefix (first occurrence, case-sensitive; an empty prefix stands at
// the start of any non-empty buffer), a '>' at or after it, and at least one
// character past the data bytes. Returns the data text: 3 characters a byte,
// taken right after the counted prefix length.
std::optional<QString> checkReply(const QString& buffer, const ReplyShape& shape);

// True when a data text is a blank and two upper-case hexadecimal digits for
// each of its bytes. Anything else (a short answer with the prompt or line ends
// inside, noise) must not be decoded into a value.
bool isWellFormedData(const QString& out);

}  // namespace tarvex
