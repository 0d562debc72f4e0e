#pragma once

#include <array>

#include "core/text.h"
#include "drag/drag_run.h"
#include "scan/value_boxes.h"
#include "ui/layouts.h"

namespace tarvex::testing {

// The main window's value boxes as a fresh window shows them.
inline MemoryBoxes boxesFromLayout() {
  MemoryBoxes boxes;
  for (int i = 0; i < kBoxCount; ++i) {
    const Box box = static_cast<Box>(i);
    const ControlSpec* layout = tarvexLayout().control(boxName(box));
    if (!layout) continue;
    boxes.setText(box, toQString(layout->text));
    boxes.setEnabled(box, layout->style.enabled);
  }
  return boxes;
}

// The drag strip's result boxes as texts, starting as a fresh window shows them.
class DragBoxTexts final : public DragBoxes {
 public:
  DragBoxTexts() {
    for (int i = 0; i < kDragBoxCount; ++i)
      texts_[std::size_t(i)] =
          toQString(dragstripLayout().control(dragBoxName(DragBox(i)).toStdString())->text);
  }
  QString text(DragBox box) const override { return texts_[std::size_t(box)]; }
  void setText(DragBox box, const QString& text) override { texts_[std::size_t(box)] = text; }

 private:
  std::array<QString, kDragBoxCount> texts_;
};

}  // namespace tarvex::testing
