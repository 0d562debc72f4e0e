#include "charts/charts_window.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>
#include <limits>
#include <vector>

#include "charts/chart_data.h"
#include "charts/decimate.h"

namespace tarvex {

namespace {

constexpr int kLeftMargin = 64;
constexpr int kRightMargin = 10;
constexpr int kAxisHeight = 22;
constexpr int kLaneGap = 6;
constexpr Millis kLiveLatency{250};

QString valueText(float value) {
  return QString::number(double(value), 'g', 6);
}

// A time of the readings as the axis shows it: seconds with a tenth on a short
// view, minutes and seconds otherwise.
QString timeText(std::int32_t ms, std::int32_t span) {
  const double seconds = double(ms) / 1000.0;
  if (span <= 60'000) return QString::number(seconds, 'f', span <= 5'000 ? 2 : 1) + QStringLiteral(" s");
  const auto whole = std::int64_t(std::llround(std::abs(seconds)));
  return QStringLiteral("%1%2:%3")
      .arg(ms < 0 ? QStringLiteral("-") : QString())
      .arg(whole / 60)
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// A step of the time axis in milliseconds, a round one for a clock: about
// `count` ticks over the span.
double timeStep(std::int32_t span, int count) {
  static constexpr double kSteps[] = {1,     2,     5,      10,     20,     50,      100,     200,    500,
                                      1e3,   2e3,   5e3,    10e3,   15e3,   30e3,    60e3,    120e3,  300e3,
                                      600e3, 900e3, 1800e3, 3600e3, 7200e3, 21600e3, 43200e3, 86400e3};
  for (const double step : kSteps)
    if (double(span) / step <= count) return step;
  return kSteps[std::size(kSteps) - 1] * std::ceil(double(span) / count / kSteps[std::size(kSteps) - 1]);
}

// A step of 1, 2 or 5 times a power of ten that gives about `count` ticks.
double niceStep(double range, int count) {
  const double raw = range / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double f : {1.0, 2.0, 5.0})
    if (raw <= f * power) return f * power;
  return 10 * power;
}

}  // namespace

// The lanes themselves, drawn with QPainter from decimated points.
class ChartsWindow::Plot : public QWidget {
 public:
  explicit Plot(ChartsWindow& window) : QWidget(&window), w_(window) {
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  double plotWidth() const { return std::max(1, width() - kLeftMargin - kRightMargin); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QList<int> lanes = w_.shownIndices();
    const Readings& readings = w_.shown();
    const TimeView& view = w_.view_;
    const double width = plotWidth();
    const int columns = int(width);
    const int laneSpace = height() - kAxisHeight;
    if (lanes.isEmpty()) {
      p.setPen(Qt::gray);
      p.drawText(rect(), Qt::AlignCenter, tr("Tick the channels to chart in the list."));
      return;
    }
    const int laneHeight = std::max(20, (laneSpace - kLaneGap * int(lanes.size() - 1)) / int(lanes.size()));
    const QFontMetrics metrics = p.fontMetrics();
    for (qsizetype lane = 0; lane < lanes.size(); ++lane) {
      const int c = lanes[lane];
      const Series& s = readings.series(c);
      const QRectF frame(kLeftMargin, double(lane) * (laneHeight + kLaneGap), width, laneHeight);
      decimate(s.ms, s.values, view.from(), view.to(), columns, points_);
      // In the unit chosen: every conversion keeps the order of values or
      // reverses it (an economy's inverse), so the kept peaks stay the peaks.
      const QByteArray unit = readings.channels()[c].unit.toUtf8();
      if (!unit.isEmpty())
        for (PlotPoint& point : points_) {
          const double v =
              convert(point.value, std::string_view(unit.constData(), std::size_t(unit.size())), w_.units_)
                  .value;
          point.value = std::isfinite(v) ? float(v) : std::nanf("");
        }
      const ValueRange scale =
          laneScale(rangeWithin(points_, view.from(), view.to()).value_or(ValueRange{0, 1}));
      const auto yOf = [&](float v) {
        return frame.bottom() - double(v - scale.low) / double(scale.high - scale.low) * frame.height();
      };
      p.setPen(QColor(0xe0, 0xe0, 0xe0));
      const double step = niceStep(double(scale.high - scale.low), std::max(1, laneHeight / 40));
      for (double v = std::ceil(double(scale.low) / step) * step; v <= double(scale.high); v += step) {
        const double y = yOf(float(v));
        p.setPen(QColor(0xe0, 0xe0, 0xe0));
        p.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        p.setPen(Qt::darkGray);
        p.drawText(QRectF(0, y - 8, kLeftMargin - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(std::abs(v) < step / 2 ? 0.0 : v, 'g', 5));
      }
      p.setPen(Qt::gray);
      p.drawRect(frame);
      // The line, broken where the series has no value.
      p.save();
      p.setClipRect(frame);
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setPen(QPen(QColor(0x1f, 0x5f, 0xbf), 0));
      line_.clear();
      for (const PlotPoint& point : points_) {
        if (std::isnan(point.value)) {
          if (line_.size() > 1) p.drawPolyline(line_.data(), int(line_.size()));
          line_.clear();
          continue;
        }
        line_.emplace_back(frame.left() + view.xOf(point.ms, width), yOf(point.value));
      }
      if (line_.size() > 1) p.drawPolyline(line_.data(), int(line_.size()));
      if (line_.size() == 1) p.drawEllipse(line_.front(), 1.5, 1.5);
      p.restore();
      p.setPen(Qt::black);
      const QRectF labelRoom = frame.adjusted(6, 2, -6, -2);
      p.drawText(labelRoom, Qt::AlignLeft | Qt::AlignTop,
                 w_.channelLabel(readings.channels()[c], int(labelRoom.width()), metrics));
    }
    const double bottom = double(lanes.size()) * (laneHeight + kLaneGap) - kLaneGap;
    // Marks and the cursor cross every lane.
    for (const ChartMark& mark : w_.marks_) {
      const double x = kLeftMargin + view.xOf(mark.ms, width);
      if (x < kLeftMargin || x > kLeftMargin + width) continue;
      p.setPen(QPen(QColor(0xc0, 0x30, 0x30), 1, Qt::DashLine));
      p.drawLine(QPointF(x, 0), QPointF(x, bottom));
      // The label beside the line, on its left where the right has no room.
      const int labelWidth = metrics.horizontalAdvance(mark.label);
      const double labelX = x + 4 + labelWidth > kLeftMargin + width ? x - 4 - labelWidth : x + 4;
      p.drawText(QPointF(labelX, metrics.ascent() + 18), mark.label);
    }
    if (w_.cursor_) {
      const double x = kLeftMargin + view.xOf(*w_.cursor_, width);
      if (x >= kLeftMargin && x <= kLeftMargin + width) {
        p.setPen(QPen(QColor(0x20, 0x90, 0x20), 1));
        p.drawLine(QPointF(x, 0), QPointF(x, bottom));
      }
    }
    // The shared time axis.
    p.setPen(Qt::darkGray);
    const double step = timeStep(view.span(), std::max(1, int(width) / 110));
    for (double t = std::ceil(double(view.from()) / step) * step; t <= double(view.to()); t += step) {
      const double x = kLeftMargin + view.xOf(std::int32_t(t), width);
      p.drawLine(QPointF(x, bottom), QPointF(x, bottom + 4));
      p.drawText(QRectF(x - 50, bottom + 4, 100, kAxisHeight - 4), Qt::AlignHCenter | Qt::AlignTop,
                 timeText(std::int32_t(t), view.span()));
    }
  }

  void wheelEvent(QWheelEvent* event) override {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    w_.view_.zoom(w_.view_.timeAt(event->position().x() - kLeftMargin, plotWidth()), std::pow(0.8, steps));
    w_.redraw();
    event->accept();
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    pressX_ = event->position().x();
    pressView_ = w_.view_;
    dragged_ = false;
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    const double x = event->position().x();
    if ((event->buttons() & Qt::LeftButton) && pressX_) {
      if (std::abs(x - *pressX_) >= 3) dragged_ = true;
      if (dragged_) {
        w_.view_ = pressView_;
        w_.view_.pan(std::int32_t(std::llround(-(x - *pressX_) * pressView_.span() / plotWidth())));
      }
    }
    w_.setCursorTime(w_.view_.timeAt(x - kLeftMargin, plotWidth()));
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    if (!dragged_) w_.setCursorTime(w_.view_.timeAt(event->position().x() - kLeftMargin, plotWidth()));
    pressX_.reset();
  }

 private:
  ChartsWindow& w_;
  std::vector<PlotPoint> points_;
  std::vector<QPointF> line_;
  std::optional<double> pressX_;
  TimeView pressView_;
  bool dragged_ = false;
};

ChartsWindow::ChartsWindow(Readings& live, Clock& clock, FileDialog& files, Reporter report, QWidget* parent)
    : QWidget(parent),
      live_(live),
      files_(files),
      report_(orMessageBox(std::move(report))),
      pacer_(clock, [this] { redraw(); }) {
  setWindowTitle(tr("Tarvex - Charts"));
  resize(960, 620);
  list_ = new QListWidget(this);
  list_->setMaximumWidth(200);
  readoutLabel_ = new QLabel(this);
  readoutLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  plot_ = new Plot(*this);
  auto* reset = new QPushButton(tr("Reset zoom"), this);
  liveButton_ = new QPushButton(tr("Live"), this);
  liveButton_->setVisible(false);
  auto* png = new QPushButton(tr("Export PNG..."), this);
  auto* csv = new QPushButton(tr("Export CSV..."), this);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {reset, liveButton_, png, csv}) buttons->addWidget(b);
  buttons->addStretch();
  auto* right = new QVBoxLayout;
  right->addLayout(buttons);
  right->addWidget(readoutLabel_);
  right->addWidget(plot_, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(right, 1);

  connect(reset, &QPushButton::clicked, this, &ChartsWindow::resetZoom);
  connect(liveButton_, &QPushButton::clicked, this, &ChartsWindow::showLive);
  connect(png, &QPushButton::clicked, this, &ChartsWindow::exportPng);
  connect(csv, &QPushButton::clicked, this, &ChartsWindow::exportCsv);
  connect(list_, &QListWidget::itemChanged, this, &ChartsWindow::listItemChanged);
  watchKey_ = live_.watch([this](const QList<int>& channels) { liveChanged(channels); });
  chooseFirstChannels();
  fillChannelList();
  if (const auto extent = extentOf(live_, shownIndices())) view_.follow(extent->first, extent->newest);
  updateReadout();
}

ChartsWindow::~ChartsWindow() {
  live_.unwatch(watchKey_);
}

QWidget* ChartsWindow::plot() const {
  return plot_;
}

// The channel's name in words, with its short name where `room` pixels allow,
// and its unit as the user's units show it.
QString ChartsWindow::channelLabel(const Channel& channel, int room, const QFontMetrics& metrics) const {
  const QString unit = convert(0.0, channel.unit, units_).label;
  const QString suffix = unit.isEmpty() ? QString() : QStringLiteral(" (") + unit + QLatin1Char(')');
  return tarvex::channelLabel(channel, suffix, room,
                              [&metrics](const QString& text) { return metrics.horizontalAdvance(text); });
}

void ChartsWindow::setUnits(const UnitChoice& units) {
  units_ = units;
  fillChannelList();
  redraw();
}

QStringList ChartsWindow::shownChannels() const {
  QStringList names;
  for (const int c : shownIndices()) names << shown().channels()[c].name;
  return names;
}

QList<int> ChartsWindow::shownIndices() const {
  QList<int> indices;
  for (const QString& name : showingRun_ ? runChosen_ : liveChosen_)
    if (const int c = shown().find(name); c != Readings::kNoChannel) indices << c;
  return indices;
}

void ChartsWindow::setShownChannels(const QStringList& names) {
  (showingRun_ ? runChosen_ : liveChosen_) = names;
  if (!showingRun_) liveChoiceMade_ = true;
  fillChannelList();
  if (view_.following())
    if (const auto extent = extentOf(shown(), shownIndices())) view_.follow(extent->first, extent->newest);
  redraw();
}

void ChartsWindow::liveChanged(const QList<int>& channels) {
  if (showingRun_) return;
  // A clear, or a channel first seen: the list changes; values only: the
  // next paced redraw shows them.
  if (channels.isEmpty() || live_.channels().size() != list_->count()) {
    chooseFirstChannels();
    fillChannelList();
  }
  pacer_.changed();
}

// Until the user chooses, the first two channels the readings have.
void ChartsWindow::chooseFirstChannels() {
  if (liveChoiceMade_) return;
  liveChosen_.clear();
  for (qsizetype c = 0; c < std::min<qsizetype>(2, live_.channels().size()); ++c)
    liveChosen_ << live_.channels()[c].name;
}

void ChartsWindow::fillChannelList() {
  filling_ = true;
  list_->clear();
  const QStringList& chosen = showingRun_ ? runChosen_ : liveChosen_;
  // The list's width less its check boxes and a scroll bar.
  const QStyle* style = list_->style();
  const int room = list_->maximumWidth() - style->pixelMetric(QStyle::PM_IndicatorWidth) -
                   style->pixelMetric(QStyle::PM_ScrollBarExtent) - 4 * list_->frameWidth() - 8;
  for (const Channel& channel : shown().channels()) {
    auto* item = new QListWidgetItem(channelLabel(channel, room, list_->fontMetrics()), list_);
    item->setData(Qt::UserRole, channel.name);
    item->setToolTip(channelLabel(channel, std::numeric_limits<int>::max(), list_->fontMetrics()));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(chosen.contains(channel.name) ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
}

void ChartsWindow::listItemChanged(QListWidgetItem* item) {
  if (filling_) return;
  QStringList& chosen = showingRun_ ? runChosen_ : liveChosen_;
  const QString name = item->data(Qt::UserRole).toString();
  chosen.removeAll(name);
  // Lanes keep the list's order.
  QStringList ordered;
  for (int row = 0; row < list_->count(); ++row) {
    const QListWidgetItem* it = list_->item(row);
    if (it->checkState() == Qt::Checked) ordered << it->data(Qt::UserRole).toString();
  }
  setShownChannels(ordered);
}

void ChartsWindow::redraw() {
  if (view_.following())
    if (const auto extent = extentOf(shown(), shownIndices())) view_.follow(extent->first, extent->newest);
  // Following, the next redraw waits until the view has moved by a pixel, but
  // the newest value shows within a quarter second.
  pacer_.setInterval(view_.following()
                         ? std::min(Millis{view_.span() / std::max(1, int(plot_->plotWidth()))}, kLiveLatency)
                         : RedrawPacer::kInterval);
  ++redrawRequests_;
  updateReadout();
  plot_->update();
}

void ChartsWindow::resetZoom() {
  view_.reset();
  redraw();
}

void ChartsWindow::showRun(const Readings& run, std::optional<Micros> hundredAt,
                           std::optional<Micros> quarterAt) {
  run_.clear();
  run_.beginBatch();
  run_.setOrigin(run.origin());
  runChosen_.clear();
  std::int32_t first = 0;
  std::int32_t last = 0;
  bool any = false;
  for (qsizetype c = 0; c < run.channels().size(); ++c) {
    const Channel& channel = run.channels()[c];
    const int copy = run_.channel(channel.name, channel.title, channel.unit);
    runChosen_ << channel.name;
    const Series& s = run.series(int(c));
    for (qsizetype i = 0; i < s.size(); ++i)
      run_.add(copy, run.toTime(s.ms[std::size_t(i)]), double(s.values[std::size_t(i)]));
    if (!s.isEmpty()) {
      first = any ? std::min(first, s.ms.front()) : s.ms.front();
      last = any ? std::max(last, s.ms.back()) : s.ms.back();
      any = true;
    }
  }
  run_.endBatch();
  marks_.clear();
  if (hundredAt) {
    const std::int32_t ms = run.toMs(*hundredAt);
    marks_.append({ms, tr("100 km/h %1 s").arg(double(ms - first) / 1000.0, 0, 'f', 2)});
  }
  if (quarterAt) {
    const std::int32_t ms = run.toMs(*quarterAt);
    marks_.append({ms, tr("1/4 mile %1 s").arg(double(ms - first) / 1000.0, 0, 'f', 2)});
  }
  for (const ChartMark& mark : marks_) last = std::max(last, mark.ms);
  showingRun_ = true;
  liveButton_->setVisible(true);
  cursor_.reset();
  // A little room after the last point so the quarter-mile mark is not on the frame.
  view_.setHome(std::pair{first, std::max(last + (last - first) / 40, first + TimeView::kMinSpanMs)});
  fillChannelList();
  redraw();
}

void ChartsWindow::setWholeLog(bool whole) {
  std::optional<std::pair<std::int32_t, std::int32_t>> home;
  if (whole) {
    for (int c = 0; c < int(live_.channels().size()); ++c) {
      const Series& s = live_.series(c);
      if (s.isEmpty()) continue;
      home = home ? std::pair{std::min(home->first, s.ms.front()), std::max(home->second, s.ms.back())}
                  : std::pair{s.ms.front(), s.ms.back()};
    }
    if (home) home->second = std::max(home->second, home->first + TimeView::kMinSpanMs);
  }
  if (!showingRun_) {
    view_.setHome(home);
    view_.reset();
    redraw();
  }
}

void ChartsWindow::showLive() {
  showingRun_ = false;
  liveButton_->setVisible(false);
  marks_.clear();
  cursor_.reset();
  view_.setHome(std::nullopt);
  fillChannelList();
  redraw();
}

void ChartsWindow::setCursorTime(std::optional<std::int32_t> ms) {
  cursor_ = ms;
  updateReadout();
  plot_->update();
}

QStringList ChartsWindow::readout() const {
  QStringList texts;
  for (const int c : shownIndices()) {
    const Channel& channel = shown().channels()[c];
    const std::optional<float> value = cursor_ ? valueAt(shown().series(c), *cursor_) : std::nullopt;
    QString text = channel.name + QLatin1Char(' ');
    const Converted shownValue = convert(double(value.value_or(0)), channel.unit, units_);
    if (value && std::isfinite(shownValue.value)) {
      text += valueText(float(shownValue.value));
      if (!shownValue.label.isEmpty()) text += QLatin1Char(' ') + shownValue.label;
    } else {
      text += QLatin1Char('-');
    }
    texts << text;
  }
  return texts;
}

void ChartsWindow::updateReadout() {
  if (!cursor_) {
    readoutLabel_->setText(tr("Point at the chart to read its values."));
    return;
  }
  readoutLabel_->setText(timeText(*cursor_, view_.span()) + QStringLiteral(":  ") +
                         readout().join(QStringLiteral("   ")));
}

bool ChartsWindow::writeFile(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
  report_(this, Urgency::kError, tr("Could not write %1: %2").arg(path, file.errorString()));
  return false;
}

bool ChartsWindow::exportPng() {
  const auto path =
      files_.chooseSaveFile(this, tr("Export chart as picture"), tr("PNG picture (*.png)|*.png"),
                            QStringLiteral("png"), QStringLiteral("chart.png"));
  if (!path) return false;
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    plot_->grab().save(&buffer, "PNG");
  }
  return writeFile(*path, bytes);
}

bool ChartsWindow::exportCsv() {
  const auto path = files_.chooseSaveFile(this, tr("Export chart as CSV"), tr("Text (*.csv)|*.csv"),
                                          QStringLiteral("csv"), QStringLiteral("chart.csv"));
  if (!path) return false;
  return writeFile(*path, chartCsv(shown(), shownIndices(), view_.from(), view_.to()));
}

}  // namespace tarvex
