#include "dtc/dtc_reader.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/failure_text.h"
#include "ui/layouts.h"

namespace tarvex {

DTCReader::DTCReader(PortFactory& ports, Clock& clock, Reporter reporter, PortChooser* chooser,
                     QWidget* parent)
    : QWidget(parent),
      controls_(buildWindow(*this, dtcReaderLayout())),
      port_(*this, ports, clock, {tr("the trouble-code window"), /*dataTerminalReady=*/true},
            std::move(reporter), chooser),
      MSComm1(port_.port()),
      DTCOutput(controls_.get<QLineEdit>(QStringLiteral("DTCOutput"))) {
  setAttribute(Qt::WA_DeleteOnClose);
  session_ = std::make_unique<DTCSession>(MSComm1, port_.timer(), clock, port_.traits(), DTCOutput->text());
  port_.route([this](PortEvent event) { MSComm1_OnComm(event); });
  session_->setFailureHandler(
      [this](const Failure& failure) { port_.report(Urgency::kError, failureText(failure)); });
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
  session_->close();
}

void DTCReader::MSComm1_OnComm(PortEvent event) {
  session_->onPortEvent(event);
}

void DTCReader::Form_Load() {
  const Status opened = session_->open();
  // Reported once the window is up, so the message has a window to stand on.
  if (!opened)
    QTimer::singleShot(0, this,
                       [this, opened] { port_.settle(opened, [this] { return session_->open(); }); });
}

void DTCReader::pb_ReadDTC_Click() {
  port_.withPort([this] { return session_->sendRead(); });
}
void DTCReader::pb_ResetDTC_Click() {
  port_.withPort([this] { return session_->sendReset(); });
}

void DTCReader::Form_Unload() {
  session_->close();
}

void DTCReader::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

}  // namespace tarvex
