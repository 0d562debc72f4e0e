#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "link/text.h"
#include "ui/layouts.h"

namespace tarvex::testing {

// Checks a built window against its layout: caption, client size, and every
// control's place and size in pixels, text, tool tip, enabled and hidden
// state, and the keyboard focus order of the focusable controls.
inline void expectBuiltFromLayout(const QWidget& window, const WindowSpec& layout) {
  EXPECT_EQ(window.windowTitle(), toQString(layout.caption));
  EXPECT_EQ(window.size(), QSize(layout.width / kTwipsPerPixel, layout.height / kTwipsPerPixel));
  std::vector<std::pair<int, QWidget*>> focusable;
  for (const ControlSpec& c : layout.controls) {
    SCOPED_TRACE(std::string(c.name));
    auto* w = window.findChild<QWidget*>(toQString(c.name), Qt::FindDirectChildrenOnly);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(c.left / kTwipsPerPixel, c.top / kTwipsPerPixel, c.width / kTwipsPerPixel,
                                   c.height / kTwipsPerPixel));
    EXPECT_EQ(w->toolTip(), toQString(c.toolTip));
    EXPECT_EQ(w->isEnabled(), c.style.enabled);
    EXPECT_EQ(w->isHidden(), !c.style.visible);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(edit->text(), toQString(c.text));
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_EQ(button->text(), toQString(c.text));
    }
    if (c.kind == ControlKind::kLabel) {
      auto* label = qobject_cast<QLabel*>(w);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->text(), toQString(c.text));
      EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
    }
    if (c.tab >= 0 && c.kind != ControlKind::kLabel) focusable.emplace_back(c.tab, w);
  }
  std::sort(focusable.begin(), focusable.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  // Tab moves through the focusable controls in table order; labels and other
  // controls that take no focus stand in the chain but are passed over.
  auto nextFocusable = [&](QWidget* from) {
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
      if (std::any_of(focusable.begin(), focusable.end(), [w](const auto& f) { return f.second == w; }))
        return w;
    }
    return static_cast<QWidget*>(nullptr);
  };
  for (std::size_t i = 1; i < focusable.size(); ++i) {
    EXPECT_EQ(nextFocusable(focusable[i - 1].second), focusable[i].second)
        << "after " << focusable[i - 1].second->objectName().toStdString();
  }
}

}  // namespace tarvex::testing
