#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

namespace tarvex {

// Something that failed, as a value: what kind of failure, what it concerns
// (a device, a file, a request to the car) and the reason in the words of
// whoever gave it (the system's error text, or the adapter's own word such as
// "CAN ERROR"). It carries no sentence: the windows and the command line turn
// it into words for the user.
struct Failure {
  enum class Kind {
    kOpen,      // a device would not open
    kLost,      // a device failed or went away while open
    kCreate,    // a file could not be made (or opened to be written)
    kWrite,     // a file did not take what was written
    kRead,      // a file could not be read
    kAdapter,   // the adapter answered with a word of its own instead of the car's answer
    kSilent,    // the adapter said nothing (or nothing readable) in time
    kNoAnswer,  // the adapter asked, and no controller answered ("NO DATA")
    kRefused,   // a controller refused the request (reason: its negative response code)
    kBroken,    // an answer came but is not whole (a frame missing or cut short)
    kInvalid,   // input the program cannot use: an option, a line of a file
  };
  Kind kind;
  QString subject;  // the device or the file: "/dev/ttyUSB0", "drive.csv"
  QString reason;   // the system's or the adapter's own words
  QString request;  // the request or the line it concerns, if any: "03", "line 4"

  bool is(Kind k) const { return kind == k; }
};

// The device itself failed (it would not open, or went away): nothing more
// can be asked of it.
inline bool portFailed(const Failure& failure) {
  return failure.is(Failure::Kind::kOpen) || failure.is(Failure::Kind::kLost);
}

// Told of a failure noticed later, on the event loop (a device that went away
// while a poll ran). What a call can tell at once comes back from it instead.
using FailureHandler = std::function<void(const Failure&)>;

// What a call gives back: a value, or the failure that kept it from one.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : v_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const { return std::get<0>(v_); }
  T& value() { return std::get<0>(v_); }
  const T* operator->() const { return &value(); }
  const T& operator*() const { return value(); }
  const Failure& failure() const { return std::get<1>(v_); }

 private:
  std::variant<T, Failure> v_;
};

// What a call that gives no value back returns: done, or why not.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_; }
  explicit operator bool() const { return ok(); }
  const Failure& failure() const { return *failure_; }
  const std::optional<Failure>& asOptional() const { return failure_; }

 private:
  std::optional<Failure> failure_;
};

}  // namespace tarvex
