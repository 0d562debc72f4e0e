// The chart's redraw, to choose what draws it: a million-point series
// decimated to the plot's pixel columns and drawn by QPainter (the charts
// window itself), by QCustomPlot and by Qt Charts (each measured when its
// Debian package is installed: libqcustomplot-dev, qt6-charts-dev). Then the
// cost of live charts at the scan's full rate, as a share of one core.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>
#include <ctime>
#include <random>

#include "bench/offscreen_main.h"
#include "charts/charts_window.h"
#include "charts/decimate.h"
#include "tests/support/fake_clock.h"

#ifdef TARVEX_HAVE_QCUSTOMPLOT
#include <qcustomplot.h>
#endif
#ifdef TARVEX_HAVE_QTCHARTS
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#endif

namespace tarvex {
namespace {

using namespace std::chrono_literals;

constexpr int kPoints = 1'000'000;
constexpr int kWidth = 900;
constexpr int kHeight = 300;

// A million values a millisecond apart: a slow wave, noise and a few spikes.
const Series& millionPoints() {
  static const Series series = [] {
    Series s;
    std::mt19937 random(1);
    std::normal_distribution<float> noise(0, 30);
    for (int i = 0; i < kPoints; ++i) {
      s.ms.push_back(i);
      s.values.push_back(2000 + 1500 * std::sin(float(i) / 50'000.0f) + noise(random) +
                         (i % 99'991 == 0 ? 3000 : 0));
    }
    return s;
  }();
  return series;
}

void DecimateMillion(benchmark::State& state) {
  const Series& s = millionPoints();
  std::vector<PlotPoint> out;
  for (auto _ : state) {
    decimate(s.ms, s.values, 0, kPoints - 1, kWidth, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["points_out"] = double(out.size());
}
BENCHMARK(DecimateMillion)->Unit(benchmark::kMillisecond);

// The charts window's own plot: decimation and QPainter, one lane.
void RedrawMillionQPainter(benchmark::State& state) {
  Readings run;
  const int c = run.channel(QStringLiteral("RPM"), QString(), QStringLiteral("rpm"));
  const Series& s = millionPoints();
  run.beginBatch();
  for (std::size_t i = 0; i < s.ms.size(); ++i) run.add(c, Millis{s.ms[i]}, double(s.values[i]));
  run.endBatch();
  Readings live;
  testing::FakeClock clock;
  QtFileDialog files;
  ChartsWindow window(live, clock, files);
  window.showRun(run, std::nullopt, std::nullopt);
  // The plot kWidth columns wide and kHeight high, as laid out in the window.
  window.show();
  QApplication::processEvents();
  window.resize(window.size() + QSize(kWidth + 74, kHeight) - window.plot()->size());
  QApplication::processEvents();
  QImage image(window.plot()->size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) window.plot()->render(&image);
  state.counters["width"] = window.plot()->width();
  state.counters["height"] = window.plot()->height();
}
BENCHMARK(RedrawMillionQPainter)->Unit(benchmark::kMillisecond);

#ifdef TARVEX_HAVE_QCUSTOMPLOT
// The same points handed to QCustomPlot: decimated (arg 1) or all of them.
void RedrawMillionQCustomPlot(benchmark::State& state) {
  const bool decimated = state.range(0) != 0;
  const Series& s = millionPoints();
  QCustomPlot plot;
  plot.resize(kWidth + 74, kHeight);
  plot.show();
  QApplication::processEvents();
  QCPGraph* graph = plot.addGraph();
  QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
  std::vector<PlotPoint> out;
  QVector<double> keys;
  QVector<double> values;
  for (auto _ : state) {
    keys.clear();
    values.clear();
    if (decimated) {
      decimate(s.ms, s.values, 0, kPoints - 1, kWidth, out);
      for (const PlotPoint& p : out) {
        keys.append(p.ms);
        values.append(double(p.value));
      }
    } else {
      for (std::size_t i = 0; i < s.ms.size(); ++i) {
        keys.append(s.ms[i]);
        values.append(double(s.values[i]));
      }
    }
    graph->setData(keys, values, true);
    plot.rescaleAxes();
    plot.replot(QCustomPlot::rpImmediateRefresh);
    plot.render(&image);
  }
}
BENCHMARK(RedrawMillionQCustomPlot)->ArgName("decimated")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
#endif

#ifdef TARVEX_HAVE_QTCHARTS
// The same points handed to Qt Charts: decimated (arg 1) or all of them.
void RedrawMillionQtCharts(benchmark::State& state) {
  const bool decimated = state.range(0) != 0;
  const Series& s = millionPoints();
  auto* series = new QLineSeries;
  auto* chart = new QChart;
  chart->addSeries(series);
  chart->createDefaultAxes();
  chart->legend()->hide();
  QChartView view(chart);
  view.resize(kWidth + 74, kHeight);
  view.show();
  QApplication::processEvents();
  QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
  std::vector<PlotPoint> out;
  QList<QPointF> points;
  for (auto _ : state) {
    points.clear();
    if (decimated) {
      decimate(s.ms, s.values, 0, kPoints - 1, kWidth, out);
      for (const PlotPoint& p : out) points.append(QPointF(p.ms, double(p.value)));
    } else {
      for (std::size_t i = 0; i < s.ms.size(); ++i) points.append(QPointF(s.ms[i], double(s.values[i])));
    }
    series->replace(points);
    chart->axes(Qt::Horizontal).first()->setRange(0, kPoints - 1);
    chart->axes(Qt::Vertical).first()->setRange(0, 7000);
    // The chart lays out the new points when the event loop comes by.
    QApplication::processEvents();
    QPainter painter(&image);
    view.render(&painter);
  }
}
BENCHMARK(RedrawMillionQtCharts)->ArgName("decimated")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(RedrawMillionQtCharts)->ArgName("decimated")->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

// Live charts at the scan's full rate: 25 values a second over 27 channels,
// ten minutes of them already there, four lanes in a shown window. One
// iteration is one second of the scan on a fake clock, with every paced
// redraw painted; the process's CPU time over the seconds run is the share
// of a core the charts cost. Following, the view redraws when it has moved by
// a pixel (four times a second here); zoomed in, at every value.
void LiveChartsFullScanRate(benchmark::State& state) {
  Readings live;
  live.setLimit(20'000);
  testing::FakeClock clock;
  QtFileDialog files;
  std::vector<int> channels;
  for (int c = 0; c < 27; ++c) channels.push_back(live.channel(QStringLiteral("P%1").arg(c)));
  std::int64_t n = 0;
  const auto addOne = [&] {
    live.add(channels[std::size_t(n % 27)], Micros{n * 40'000}, std::sin(double(n) / 300.0) * 100);
    ++n;
  };
  for (int i = 0; i < 25 * 600; ++i) addOne();
  ChartsWindow window(live, clock, files);
  window.setShownChannels(
      {QStringLiteral("P0"), QStringLiteral("P1"), QStringLiteral("P2"), QStringLiteral("P3")});
  window.resize(960, 620);
  window.show();
  QApplication::processEvents();
  if (state.range(0) != 0) {
    // Zoomed in: no longer following, every value is drawn (paced at 30 a second).
    QWidget* plot = window.plot();
    const QPointF at(plot->width() / 2.0, 50);
    QWheelEvent wheel(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 600), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
  }
  const int before = window.redrawRequests();
  const std::clock_t cpuStart = std::clock();
  for (auto _ : state) {
    for (int i = 0; i < 25; ++i) {
      addOne();
      clock.advance(40ms);
      QApplication::processEvents();
    }
  }
  const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  state.counters["core_percent"] = 100.0 * cpuSeconds / double(state.iterations());
  state.counters["redraws_per_s"] = double(window.redrawRequests() - before) / double(state.iterations());
}
BENCHMARK(LiveChartsFullScanRate)->ArgName("zoomed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex

int main(int argc, char** argv) {
  return runWindowBenchmarks(argc, argv);
}
