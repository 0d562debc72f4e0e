#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "obd/pids.h"

namespace tarvex::obd {

// A parameter the user defined: what to ask (service 01, 21 or 22), how to
// read the answer (an equation), how to name and label it. Copies share one
// parsed equation: evaluating is cheap, and not for two threads at once.
//
// The equation is over the answer's data bytes after the service and PID
// echo, A the first, up to Z, each 0..255. What it may hold:
//   numbers with a decimal point, + - * / ^ ( ), comparisons and && || and
//   c ? x : y, muparser's functions (abs, min, max, sqrt, ...);
//   {A:7}      bit 7 of A (0 or 1), bits 0 to 7, as other apps' files write it;
//   bit(A,7)   the same as a function;
//   signed(A)  A read as a two's complement byte (-128..127); Signed(A) too.
class UserParameter {
 public:
  // From the eight fields of a line (Name, ShortName, ModeAndPID, Equation,
  // Min Value, Max Value, Units, Header). Nothing, with the reason, when a
  // field cannot be used.
  static std::optional<UserParameter> fromFields(const QStringList& fields, QString* reason);

  const QString& name() const { return name_; }
  const QString& shortName() const { return shortName_; }
  const QString& equation() const { return equation_; }  // as the file wrote it
  const QString& unit() const { return unit_; }
  // What ATSH is set to before asking ("7E0"); empty: the adapter's own.
  const QString& header() const { return header_; }
  std::optional<double> min() const { return min_; }
  std::optional<double> max() const { return max_; }
  int service() const { return service_; }  // 0x01, 0x21 or 0x22
  int pid() const { return pid_; }

  // "221940", "010C", "2101".
  QString requestText() const;
  // The data bytes of an answer (from its service byte on) to this request:
  // after "62 19 40". Nothing for an answer to something else.
  std::optional<Bytes> dataOf(Bytes message) const;
  // How many data bytes the equation reads: 2 when B is the last it names.
  std::size_t dataBytes() const;
  // The value of the data bytes. Nothing when there are fewer than the
  // equation reads, or the result is no finite number (a division by zero).
  std::optional<double> decode(Bytes data) const;
  // The smallest change one count of a data byte makes (decodeStep).
  double step() const;

 private:
  struct Formula;

  QString name_, shortName_, equation_, unit_, header_;
  std::optional<double> min_, max_;
  int service_ = 0;
  int pid_ = 0;
  std::shared_ptr<Formula> formula_;
};

struct RefusedLine {
  int line;  // from 1; where the record starts
  QString reason;
};

struct UserParameterFile {
  std::vector<UserParameter> parameters;  // in the file's order
  std::vector<RefusedLine> refused;
  QString failure;  // why the file could not be read at all; empty when it was
};

// Reads a parameter file: CSV (RFC 4180: fields may be quoted, quotes doubled,
// line ends inside quotes), UTF-8 (with or without a byte order mark; a file
// that is no UTF-8 is read as Latin-1), one parameter a line, with or without
// the header line "Name,ShortName,ModeAndPID,...". Blank lines are passed
// over. A line that cannot be a parameter is refused with its reason and the
// rest is read; a short name given twice (in any case) keeps the first.
UserParameterFile readUserParameters(const QByteArray& content);
UserParameterFile loadUserParameters(const QString& path);

// The smallest change one count of one data byte makes to a value: each of
// `bytes` bytes set to 1 alone, against all of them 0. 0 when no byte
// changes it. RPM ((A*256+B)/4) gives 0.25.
double decodeStep(std::size_t bytes, const std::function<std::optional<double>(Bytes)>& decode);
// The step of a service 01 parameter's first reading.
double pidStep(const Pid& pid);

}  // namespace tarvex::obd
