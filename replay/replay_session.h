#pragma once

#include <QString>
#include <memory>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/readings.h"
#include "replay/log_reader.h"
#include "replay/replay_player.h"
#include "scan/catalogue.h"

namespace tarvex {

// A log played back instead of the car: the whole log goes into the readings
// at once, and the player's cursor picks the line the boxes show.
class ReplaySession {
 public:
  ReplaySession(Clock& clock, Readings& readings) : readings_(readings), player_(clock) {}

  // Loads a log (the readings are cleared first), or says why it cannot.
  Status open(const QString& path);
  // Lets go of the log; the readings are emptied for the live values to come.
  void close();
  bool isOpen() const { return open_; }
  const QString& path() const { return path_; }

  // The main window's boxes and the texts a line of the log gives them: the
  // logged columns only; a box the log has no column for is not in it.
  std::vector<std::pair<Box, QString>> boxTexts(qsizetype line) const;

  LogReader& log() { return log_; }
  ReplayPlayer& player() { return player_; }

 private:
  Readings& readings_;
  LogReader log_;
  ReplayPlayer player_;
  std::vector<std::pair<qsizetype, Box>> columnBoxes_;  // log column -> box
  QString path_;
  bool open_ = false;
};

}  // namespace tarvex
