#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "charts/redraw_pacer.h"
#include "charts/time_view.h"
#include "core/clock.h"
#include "core/readings.h"
#include "core/units.h"
#include "ui/file_dialog.h"
#include "ui/message.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class QFontMetrics;

namespace tarvex {

// A vertical line across every lane at a moment of the shown readings.
struct ChartMark {
  std::int32_t ms;
  QString label;
};

// The charts window: chosen channels plotted against time in lanes that share
// the time axis, each with its own scale and unit. Live it shows the last ten
// minutes of the readings and follows the newest value; the mouse wheel zooms
// around the pointer, dragging pans, "Reset zoom" goes back to following. The
// pointer (or a click) puts a cursor that reads out every lane's value at its
// time. The shown range exports as PNG and CSV.
//
// Shown like the gauges: a window of its own, without owner, not modal. The
// live readings must outlive it.
class ChartsWindow : public QWidget {
  Q_OBJECT
 public:
  ChartsWindow(Readings& live, Clock& clock, FileDialog& files, Reporter report = {},
               QWidget* parent = nullptr);
  ~ChartsWindow() override;

  // Shows a drag run (a copy of it) as speed over time, whole, with marks where
  // it reached 100 km/h and the quarter mile (times of the run's readings).
  // "Live" returns to the live readings.
  void showRun(const Readings& run, std::optional<Micros> hundredAt, std::optional<Micros> quarterAt);
  void showLive();
  bool showingRun() const { return showingRun_; }
  // The live readings hold a recorded log (a replay): home is the whole of it
  // instead of the last 10 minutes, and nothing is followed. Off: live again.
  void setWholeLog(bool whole);

  // The channels in lanes, top to bottom, by name; and choosing them (as the
  // list's check boxes do).
  QStringList shownChannels() const;
  void setShownChannels(const QStringList& names);

  // The lanes, their labels and the readout in these units (the readings keep
  // their own; an export writes those).
  void setUnits(const UnitChoice& units);
  const UnitChoice& units() const { return units_; }

  const TimeView& view() const { return view_; }
  void resetZoom();
  const QList<ChartMark>& marks() const { return marks_; }

  // Puts the cursor at a time; its readout is one text a lane ("RPM 2150 rpm"),
  // "-" for a channel with no value yet at that time.
  void setCursorTime(std::optional<std::int32_t> ms);
  QStringList readout() const;

  // Ask for a file name and write the shown range; false when cancelled or
  // the file could not be written (the user is told).
  bool exportPng();
  bool exportCsv();

  // How often the plot was asked to redraw (the pace of live drawing).
  int redrawRequests() const { return redrawRequests_; }
  QWidget* plot() const;

 private:
  class Plot;
  friend class Plot;

  const Readings& shown() const { return showingRun_ ? run_ : live_; }
  QList<int> shownIndices() const;
  void liveChanged(const QList<int>& channels);
  void chooseFirstChannels();
  void fillChannelList();
  void listItemChanged(QListWidgetItem* item);
  void redraw();
  void updateReadout();
  bool writeFile(const QString& path, const QByteArray& bytes);
  QString channelLabel(const Channel& channel, int room, const QFontMetrics& metrics) const;

  Readings& live_;
  FileDialog& files_;
  Reporter report_;
  Readings run_;
  bool showingRun_ = false;
  int watchKey_ = -1;
  QStringList liveChosen_;
  bool liveChoiceMade_ = false;
  QStringList runChosen_;
  TimeView view_;
  QList<ChartMark> marks_;
  std::optional<std::int32_t> cursor_;
  RedrawPacer pacer_;
  UnitChoice units_;
  int redrawRequests_ = 0;
  bool filling_ = false;

  QListWidget* list_ = nullptr;
  QLabel* readoutLabel_ = nullptr;
  QPushButton* liveButton_ = nullptr;
  Plot* plot_ = nullptr;
};

}  // namespace tarvex
