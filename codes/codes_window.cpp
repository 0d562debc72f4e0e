#include "codes/codes_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "codes/report_text.h"
#include "obd/answer.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

QString text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QTableWidget* table(const QStringList& headings, QWidget* parent) {
  auto* t = new QTableWidget(0, static_cast<int>(headings.size()), parent);
  t->setHorizontalHeaderLabels(headings);
  t->horizontalHeader()->setStretchLastSection(true);
  t->verticalHeader()->hide();
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  return t;
}

void addRow(QTableWidget* t, const QStringList& cells) {
  const int row = t->rowCount();
  t->insertRow(row);
  for (int i = 0; i < cells.size(); ++i) t->setItem(row, i, new QTableWidgetItem(cells[i]));
}

}  // namespace

bool MessageBoxConfirm::ask(const QString& question) {
  return QMessageBox::question(parent_, QStringLiteral("Clear trouble codes"),
                               question + QStringLiteral("\n\nThe MIL goes off and the readiness monitors "
                                                         "start again from incomplete."),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

CodesWindow::CodesWindow(PortFactory& ports, Clock& clock, Reporter reporter, PortChooser* chooser,
                         QWidget* parent)
    : QWidget(parent),
      port_(*this, ports, clock, {tr("the trouble codes in words window"), /*dataTerminalReady=*/true},
            std::move(reporter), chooser),
      boxConfirm_(this),
      confirm_(&boxConfirm_) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Trouble codes in words"));
  protocol_ = new QLabel(tr("Protocol: not known yet"), this);
  mil_ = new QLabel(tr("MIL: not known yet"), this);
  status_ = new QLabel(this);
  for (QLabel* l : {protocol_, mil_}) l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  codes_ = table({tr("Code"), tr("Status"), tr("Controller"), tr("Description")}, this);
  freeze_ = table({tr("Parameter"), tr("Value")}, this);
  readiness_ = new QPlainTextEdit(this);
  readiness_->setReadOnly(true);
  read_ = new QPushButton(tr("Read codes"), this);
  clear_ = new QPushButton(tr("Clear codes..."), this);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(read_);
  buttons->addWidget(clear_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(protocol_);
  layout->addWidget(mil_);
  layout->addWidget(codes_, 3);
  layout->addWidget(new QLabel(tr("Freeze frame"), this));
  layout->addWidget(freeze_, 2);
  layout->addWidget(new QLabel(tr("Readiness"), this));
  layout->addWidget(readiness_, 2);
  layout->addWidget(status_);
  layout->addLayout(buttons);
  resize(720, 640);

  reader_ = std::make_unique<CodesReader>(port_.port(), port_.timer(), clock, port_.traits());
  port_.route([this](PortEvent event) { reader_->onPortEvent(event); },
              [this] { reader_->onReplyTimeout(); });
  reader_->setDone([this](const CodesReport& report) { showReport(report); });
  reader_->setFailureHandler([this](const Failure& failure) {
    busy(false);
    port_.report(Urgency::kError, failureText(failure));
  });
  reader_->setProgress(
      [this](const QString& command) { status_->setText(tr("Asking %1 ...").arg(command)); });
  connect(read_, &QPushButton::clicked, this, [this] {
    busy(true);
    port_.withPort([this] { return reader_->read(); });
    busy(reader_->busy());
  });
  connect(clear_, &QPushButton::clicked, this, [this] {
    port_.withPort([this]() -> Status {
      const Result<bool> agreed = reader_->clear(*confirm_);
      if (!agreed) return agreed.failure();
      return {};
    });
    busy(reader_->busy());
  });
  // Read once the window is up, so a message has a window to stand on.
  busy(true);
  QTimer::singleShot(0, this, [this] {
    port_.withPort([this] { return reader_->read(); });
    busy(reader_->busy());
  });
}

CodesWindow::~CodesWindow() {
  reader_->stop();
}

void CodesWindow::busy(bool on) {
  read_->setEnabled(!on);
  clear_->setEnabled(!on);
  if (!on) status_->clear();
}

void CodesWindow::setUnits(const UnitChoice& units) {
  units_ = units;
  if (shown_) {
    const CodesReport report = *shown_;
    const bool reading = reader_->busy();
    showReport(report);
    if (reading) busy(true);
  }
}

void CodesWindow::showReport(const CodesReport& report) {
  shown_ = report;
  busy(false);
  protocol_->setText(tr("Protocol: %1").arg(report.protocol ? text(report.protocol->name) : tr("unknown")));
  mil_->setText(milText(report).trimmed());
  codes_->setRowCount(0);
  for (const CodeEntry& c : report.codes)
    addRow(codes_, {c.code, c.status(), obd::controllerName(c.source), c.description});
  codes_->resizeColumnsToContents();
  freeze_->setRowCount(0);
  if (report.freezeFrame) {
    addRow(freeze_, {tr("Stored by"), report.freezeFrame->code});
    for (const auto& [name, value] : freezeFrameRows(*report.freezeFrame, units_))
      addRow(freeze_, {name, value});
  }
  freeze_->resizeColumnsToContents();
  QString monitors;
  for (const ControllerReadiness& r : report.readiness) monitors += tarvex::readinessText(r);
  readiness_->setPlainText(monitors);
  // "none" where the controllers said so; every read that failed, with why.
  status_->setText(QString(codesSummary(report) + failuresText(report)).trimmed());
}

void CodesWindow::closeEvent(QCloseEvent* event) {
  reader_->stop();
  event->accept();
}

}  // namespace tarvex
