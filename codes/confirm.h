#pragma once

#include <QString>

namespace tarvex {

// Asks the user yes or no before something that cannot be undone. A window
// asks with a message box, the command line on the terminal; tests answer
// from a script.
class Confirm {
 public:
  virtual ~Confirm() = default;
  // True only for a clear yes.
  virtual bool ask(const QString& question) = 0;
  // Why the last question was answered no without asking anyone (no terminal
  // to ask on); empty when it was asked.
  virtual QString refusal() const { return {}; }
};

}  // namespace tarvex
