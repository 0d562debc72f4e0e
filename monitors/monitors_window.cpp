#include "monitors/monitors_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/text.h"
#include "monitors/monitor_text.h"
#include "ui/failure_text.h"

namespace tarvex {
namespace {

QTableWidget* table(const QStringList& headings, QWidget* parent) {
  auto* t = new QTableWidget(0, static_cast<int>(headings.size()), parent);
  t->setHorizontalHeaderLabels(headings);
  t->horizontalHeader()->setStretchLastSection(true);
  t->verticalHeader()->hide();
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  return t;
}

// A failed test stands out; one that never ran is greyed.
void addRow(QTableWidget* t, const QStringList& cells, Verdict verdict, int firstNumber, int lastNumber) {
  const int row = t->rowCount();
  t->insertRow(row);
  for (int i = 0; i < cells.size(); ++i) {
    auto* item = new QTableWidgetItem(cells[i]);
    if (verdict == Verdict::kFailed) {
      item->setBackground(QColor(0xFF, 0xD6, 0xD6));
      QFont bold = item->font();
      bold.setBold(true);
      item->setFont(bold);
    } else if (verdict == Verdict::kNotRun) {
      item->setForeground(QColor(0x70, 0x70, 0x70));
    }
    if (i >= firstNumber && i <= lastNumber) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    t->setItem(row, i, item);
  }
}

}  // namespace

MonitorsWindow::MonitorsWindow(PortFactory& ports, Clock& clock, Reporter reporter, PortChooser* chooser,
                               UnitChoice units, QWidget* parent)
    : QWidget(parent),
      port_(*this, ports, clock, {tr("the on-board tests window"), /*dataTerminalReady=*/true},
            std::move(reporter), chooser),
      units_(units) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("On-board tests"));
  protocol_ = new QLabel(tr("Protocol: not known yet"), this);
  summary_ = new QLabel(tr("On-board tests: not read yet"), this);
  summary_->setWordWrap(true);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  for (QLabel* l : {protocol_, summary_, status_}) l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  tests_ = table({tr("Controller"), tr("Monitor"), tr("Test"), tr("Value"), tr("Minimum"), tr("Maximum"),
                  tr("Unit"), tr("Result")},
                 this);
  misfires_ = table(
      {tr("Controller"), tr("Cylinder"), tr("This or last cycle"), tr("Average of 10 cycles"), tr("Result")},
      this);
  read_ = new QPushButton(tr("Read again"), this);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(read_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(protocol_);
  layout->addWidget(summary_);
  layout->addWidget(tests_, 4);
  layout->addWidget(new QLabel(tr("Misfire counts"), this));
  layout->addWidget(misfires_, 1);
  layout->addWidget(status_);
  layout->addLayout(buttons);
  resize(1180, 720);

  car_ = std::make_unique<CarLink>(port_.port(), port_.timer(), clock, port_.traits());
  reader_ = std::make_unique<MonitorReader>(*car_);
  port_.route([this](PortEvent event) { car_->session().onPortEvent(event); },
              [this] { car_->session().onReplyTimeout(); });
  reader_->setDone([this](const MonitorReport& report) { showReport(report); });
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
  // Read once the window is up, so a message has a window to stand on.
  busy(true);
  QTimer::singleShot(0, this, [this] {
    port_.withPort([this] { return reader_->read(); });
    busy(reader_->busy());
  });
}

MonitorsWindow::~MonitorsWindow() {
  reader_->stop();
}

void MonitorsWindow::setUnits(const UnitChoice& units) {
  units_ = units;
  if (shown_) showReport(*shown_);
}

void MonitorsWindow::busy(bool on) {
  read_->setEnabled(!on);
  if (!on) status_->clear();
}

void MonitorsWindow::showReport(const MonitorReport& report) {
  busy(false);
  shown_ = report;
  protocol_->setText(
      tr("Protocol: %1").arg(report.protocol ? toQString(report.protocol->name) : tr("unknown")));
  summary_->setText(
      (QStringList{monitorSummary(report)} + controllersWithout(report)).join(QLatin1Char('\n')));
  tests_->setRowCount(0);
  // The failed tests first: what the user opened the window for.
  for (const TestRow& r : failuresFirst(testRows(report, units_)))
    addRow(tests_,
           {r.controller, r.monitor, r.test, r.value, r.minimum, r.maximum, r.unit, verdictText(r.verdict)},
           r.verdict, 3, 5);
  tests_->resizeColumnsToContents();
  misfires_->setRowCount(0);
  for (const MisfireRow& m : misfireRows(report))
    addRow(misfires_,
           {m.controller, QString::number(m.cylinder), m.current, m.recent, verdictText(m.verdict)},
           m.verdict, 1, 3);
  misfires_->resizeColumnsToContents();
  // Every cylinder at a glance, up to eight of them.
  misfires_->setMinimumHeight(misfires_->horizontalHeader()->sizeHint().height() +
                              std::min(misfires_->rowCount(), 8) *
                                  misfires_->verticalHeader()->defaultSectionSize() +
                              2 * misfires_->frameWidth());
  QStringList notRead;
  for (const Failure& f : report.failed) notRead << failureText(f);
  status_->setText(notRead.isEmpty() ? QString() : tr("Not read:\n%1").arg(notRead.join(QLatin1Char('\n'))));
}

void MonitorsWindow::closeEvent(QCloseEvent* event) {
  reader_->stop();
  event->accept();
}

}  // namespace tarvex
