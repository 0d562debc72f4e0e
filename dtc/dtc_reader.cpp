#include "dtc/dtc_reader.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/layouts.h"

namespace tarvex {

DTCReader::DTCReader(PortFactory& ports, Reporter reporter, PortChooser* chooser, Clock* clock,
                     QWidget* parent)
    : QWidget(parent),
      ownClock_(clock ? nullptr : std::make_unique<SystemClock>()),
      MSComm1(ports.createPort({tr("the trouble-code window"), /*dataTerminalReady=*/true})),
      controls_(buildWindow(*this, dtcReaderLayout())),
      DTCOutput(controls_.get<QLineEdit>(QStringLiteral("DTCOutput"))),
      report_(orMessageBox(std::move(reporter))),
      ports_(ports),
      chooser_(chooser) {
  setAttribute(Qt::WA_DeleteOnClose);
  session_ = std::make_unique<DTCSession>(*MSComm1, clock ? *clock : *ownClock_, DTCOutput->text());
  MSComm1->setNotify([this](PortEvent event) { MSComm1_OnComm(event); });
  session_->setFailureHandler([this](const QString& message) { report(message); });
  // The box holds the whole session's text, more than a line edit's default.
  DTCOutput->setMaxLength(int(DTCSession::kMaxOutput) + 1);
  DTCOutput->setText(session_->output());
  session_->setOutputChanged([this] { DTCOutput->setText(session_->output()); });
  connect(DTCOutput, &QLineEdit::textEdited, this,
          [this](const QString& text) { session_->setOutput(text); });
  connect(controls_.get<QPushButton>(QStringLiteral("pb_ReadDTC")), &QPushButton::clicked, this,
          [this] { pb_ReadDTC_Click(); });
  connect(controls_.get<QPushButton>(QStringLiteral("pb_ResetDTC")), &QPushButton::clicked, this,
          [this] { pb_ResetDTC_Click(); });
  focusFirstControl(controls_, dtcReaderLayout());
  Form_Load();
}

DTCReader::~DTCReader() {
  MSComm1->setNotify({});
}

void DTCReader::MSComm1_OnComm(PortEvent event) {
  session_->onPortEvent(event);
}

void DTCReader::Form_Load() {
  const std::optional<QString> failure = session_->open();
  // Reported once the window is up, so the message has a window to stand on.
  if (failure) {
    QTimer::singleShot(0, this, [this, message = *failure] {
      if (report(message)) Form_Load();
    });
  }
}

bool DTCReader::report(const std::optional<QString>& failure) {
  if (!failure) return false;
  if (session_->openFailed()) return offerOtherPort(this, *failure, ports_, chooser_, report_);
  report_(this, Urgency::kError, *failure);
  return false;
}

void DTCReader::pb_ReadDTC_Click() {
  if (report(session_->sendRead())) pb_ReadDTC_Click();
}
void DTCReader::pb_ResetDTC_Click() {
  if (report(session_->sendReset())) pb_ResetDTC_Click();
}

void DTCReader::Form_Unload() {
  session_->close();
}

void DTCReader::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

}  // namespace tarvex
