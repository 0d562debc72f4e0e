#include "replay/replay_session.h"

#include "core/text.h"

namespace tarvex {

Status ReplaySession::open(const QString& path) {
  close();
  if (Status loaded = log_.load(path, readings_); !loaded) return loaded;
  columnBoxes_.clear();
  const QStringList& columns = log_.columns();
  for (qsizetype i = 0; i < columns.size(); ++i) {
    for (const CsvColumn& c : csvColumns())
      if (toQString(c.name) == columns[i]) columnBoxes_.emplace_back(i, c.box);
  }
  path_ = path;
  open_ = true;
  player_.setLines(log_.lineTimes());
  return {};
}

void ReplaySession::close() {
  if (!open_) return;
  player_.pause();
  player_.setLines({});
  open_ = false;
  path_.clear();
  columnBoxes_.clear();
  readings_.clear();
}

std::vector<std::pair<Box, QString>> ReplaySession::boxTexts(qsizetype line) const {
  std::vector<std::pair<Box, QString>> texts;
  if (!open_ || line < 0 || line >= log_.lineCount()) return texts;
  const QStringList fields = log_.fields(line);
  for (const auto& [column, box] : columnBoxes_)
    if (column < fields.size()) texts.emplace_back(box, fields[column]);
  return texts;
}

}  // namespace tarvex
