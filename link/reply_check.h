#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace tarvex {

// What a complete reply must look like: the prefix the check searches for, the
// length the check counts for it (the scan counts 8 even for an empty prefix),
// and how many data bytes follow.
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
std::optional<QString> checkReply(QStringView buffer, const ReplyShape& shape);

// The same check on a buffer that only grows between calls: each call looks at
// the characters added since the last one, so a reply trickling in character
// by character costs no more than one arriving whole. Call restart() whenever
// the buffer is replaced or emptied, or the expected reply changes.
class ReplyCheck {
 public:
  explicit ReplyCheck(ReplyShape shape = {}) : shape_(std::move(shape)) {}

  const ReplyShape& shape() const { return shape_; }
  void setShape(ReplyShape shape);
  void restart();
  std::optional<QString> check(QStringView buffer);

 private:
  ReplyShape shape_;
  qsizetype searched_ = 0;     // the prefix is not wholly inside [0, searched_)
  qsizetype prefixAt_ = -1;    // where it was found
  qsizetype promptFrom_ = -1;  // no '>' in [prefixAt_, promptFrom_)
  bool prompt_ = false;
};

// True when a data text is a blank and two upper-case hexadecimal digits for
// each of its bytes. Anything else (a short answer with the prompt or line ends
// inside, noise) must not be decoded into a value.
bool isWellFormedData(QStringView out);

}  // namespace tarvex
