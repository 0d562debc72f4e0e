#include "report/report_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include "report/report_file.h"
#include "report/report_html.h"
#include "ui/failure_text.h"

namespace tarvex {

ReportWindow::ReportWindow(PortFactory& ports, Clock& clock, FileDialog& files, QString path,
                           Reporter reporter, PortChooser* chooser, UnitChoice units, QWidget* parent)
    : QWidget(parent),
      port_(*this, ports, clock, {tr("the report window"), /*dataTerminalReady=*/true}, std::move(reporter),
            chooser),
      files_(files),
      path_(std::move(path)),
      units_(units) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Report"));
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  view_ = new QTextBrowser(this);
  read_ = new QPushButton(tr("Read again"), this);
  saveAs_ = new QPushButton(tr("Save as..."), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(read_);
  buttons->addWidget(saveAs_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(view_, 1);
  layout->addLayout(buttons);
  resize(820, 900);

  reader_ = std::make_unique<ReportReader>(port_.port(), port_.timer(), clock, port_.traits());
  port_.route([this](PortEvent event) { reader_->onPortEvent(event); },
              [this] { reader_->onReplyTimeout(); });
  reader_->setDone([this](const CarReport& report) { done(report); });
  reader_->setFailureHandler([this](const Failure& failure) {
    busy(false);
    status_->setText(tr("The car could not be read; nothing was saved."));
    port_.report(Urgency::kError, failureText(failure));
  });
  reader_->setProgress([this](const QString& command) {
    status_->setText(tr("Reading the car for %1: asking %2 ...").arg(path_, command));
  });
  connect(read_, &QPushButton::clicked, this, [this] { read(); });
  connect(saveAs_, &QPushButton::clicked, this, [this] {
    const std::optional<QString> chosen = files_.chooseSaveFile(
        this, tr("Save report"), QStringLiteral("HTML (*.html)|*.html|PDF (*.pdf)|*.pdf"),
        QStringLiteral("html"), path_);
    if (chosen) save(*chosen);
  });
  saveAs_->setEnabled(false);
  // Read once the window is up, so a message has a window to stand on.
  busy(true);
  QTimer::singleShot(0, this, [this] { read(); });
}

ReportWindow::~ReportWindow() {
  reader_->stop();
}

void ReportWindow::saveTo(const QString& path) {
  path_ = path;
  if (!reader_->busy()) read();
}

void ReportWindow::read() {
  busy(true);
  port_.withPort([this] { return reader_->read(QDateTime::currentDateTime()); },
                 [this](const Failure& failure) {
                   busy(false);
                   port_.report(Urgency::kError, failureText(failure));
                 });
  busy(reader_->busy());
}

void ReportWindow::busy(bool on) {
  read_->setEnabled(!on);
  saveAs_->setEnabled(!on && !html_.isEmpty());
}

void ReportWindow::done(const CarReport& report) {
  // The port is free again before the file is written.
  reader_->stop();
  html_ = reportHtml(report, units_);
  view_->setHtml(html_);
  busy(false);
  save(path_);
  if (report.incomplete())
    status_->setText(status_->text() + QLatin1Char(' ') + tr("Some reads failed: see \"Not read\"."));
}

void ReportWindow::save(const QString& path) {
  if (const Status written = writeReport(html_, path); !written) {
    status_->setText(tr("Not saved."));
    port_.report(Urgency::kError, failureText(written.failure()));
    return;
  }
  path_ = path;
  status_->setText(tr("Saved to %1.").arg(path));
}

void ReportWindow::closeEvent(QCloseEvent* event) {
  reader_->stop();
  event->accept();
}

}  // namespace tarvex
