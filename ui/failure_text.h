#pragma once

#include <QString>
#include <optional>

#include "core/failure.h"
#include "link/adapter_words.h"

namespace tarvex {

// What one of the adapter's words means and what the user can do about it.
struct WordHelp {
  QString meaning;
  QString advice;  // empty when there is nothing to do
};
WordHelp adapterWordHelp(AdapterWord word);

// A request to the car, for people: "stored trouble codes (03)", "the VIN
// (0902)"; a request this table does not name is given as it is.
QString requestName(const QString& request);

// A failure in the user's words: what failed, on which device or file, the
// reason in the system's or the adapter's own words, and for the adapter's
// words what they mean and what to do. A silent adapter is never the car.
// Every window and the command line tell failures with it.
QString failureText(const Failure& failure);

}  // namespace tarvex
