#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "core/text.h"
#include "ui/layouts.h"

namespace tarvex::testing {

// Caption, size, each control's place, size, text, tool tip, enabled and hidden state; focus order.
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
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(w->property("text").toString(), toQString(c.text));
    }
    if (c.kind == ControlKind::kLabel) {
      EXPECT_NE(qobject_cast<QLabel*>(w), nullptr);
      EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
    }
    if (c.tab >= 0 && c.kind != ControlKind::kLabel) focusable.emplace_back(c.tab, w);
  }
  if (focusable.empty()) return;
  // In table order; controls that take no focus stand in the chain but are passed over.
  std::ranges::sort(focusable, {}, [](const auto& f) { return f.first; });
  QStringList inTable, tabbed;
  for (const auto& f : focusable) inTable << f.second->objectName();
  QWidget* w = focusable.front().second;
  do {
    if (std::ranges::count(focusable, w, [](const auto& f) { return f.second; })) tabbed << w->objectName();
  } while ((w = w->nextInFocusChain()) && w != focusable.front().second);
  EXPECT_EQ(tabbed, inTable);
}

}  // namespace tarvex::testing
