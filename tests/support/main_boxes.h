#pragma once

#include "app/layouts.h"
#include "scan/value_boxes.h"

namespace tarvex::testing {

// The main window's value boxes as a fresh window shows them: texts and
// enabled states from its layout.
inline MemoryBoxes boxesFromLayout() {
  MemoryBoxes boxes;
  for (int i = 0; i < kBoxCount; ++i) {
    const Box box = static_cast<Box>(i);
    const ControlSpec* layout = tarvexLayout().control(boxName(box));
    if (!layout) continue;
    boxes.setText(box, QString::fromUtf8(layout->text.data(), static_cast<qsizetype>(layout->text.size())));
    boxes.setEnabled(box, layout->style.enabled);
  }
  return boxes;
}

}  // namespace tarvex::testing
