#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "codes/codes_reader.h"
#include "codes/confirm.h"
#include "core/units.h"
#include "link/serial_port.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace tarvex {

// Asks with a message box on the window.
class MessageBoxConfirm final : public Confirm {
 public:
  explicit MessageBoxConfirm(QWidget* parent) : parent_(parent) {}
  bool ask(const QString& question) override;

 private:
  QWidget* parent_;
};

// "Trouble codes in words": the protocol, the lamp, every controller's stored,
// pending and permanent codes with their descriptions, the freeze frame and
// the readiness monitors. It reads the car when it opens and on "Read codes";
// "Clear codes" asks first, clears and reads again. It holds the port while it
// is open; a closed window deletes itself.
class CodesWindow : public QWidget {
  Q_OBJECT
 public:
  // Without a chooser, a port that will not open is only reported.
  CodesWindow(PortFactory& ports, Clock& clock, Reporter reporter = {}, PortChooser* chooser = nullptr,
              QWidget* parent = nullptr);
  ~CodesWindow() override;

  // Tests answer the clearing question from a script; the window's own box
  // otherwise.
  void setConfirm(Confirm* confirm) { confirm_ = confirm ? confirm : &boxConfirm_; }
  CodesReader& reader() { return *reader_; }
  // The freeze frame's values in these units (shown again at once).
  void setUnits(const UnitChoice& units);

  QLabel* protocolLabel() const { return protocol_; }
  QLabel* milLabel() const { return mil_; }
  QTableWidget* codesTable() const { return codes_; }
  QTableWidget* freezeTable() const { return freeze_; }
  QPlainTextEdit* readinessText() const { return readiness_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* clearButton() const { return clear_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void showReport(const CodesReport& report);
  void busy(bool on);

  PortWindow port_;
  std::unique_ptr<CodesReader> reader_;
  MessageBoxConfirm boxConfirm_;
  Confirm* confirm_;
  QLabel* protocol_;
  QLabel* mil_;
  QLabel* status_;
  QTableWidget* codes_;
  QTableWidget* freeze_;
  QPlainTextEdit* readiness_;
  QPushButton* read_;
  QPushButton* clear_;
  UnitChoice units_;
  std::optional<CodesReport> shown_;
};

}  // namespace tarvex
