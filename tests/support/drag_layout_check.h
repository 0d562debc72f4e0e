#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "app/layouts.h"

namespace tarvex::testing {

// One control as a freshly built window must show it: the layout in twips.
struct ExpectedControl {
  const char* name;
  char kind;  // 'B' button, 'T' text box, 'L' label
  const char* text;
  int left, top, width, height;
  int tab;
};

struct ExpectedWindow {
  const char* caption;
  int width, height;  // client area, twips
  const char* firstFocus;
  std::vector<ExpectedControl> controls;
};

// Checks a built window control by control: kind, text, place and size in
// pixels (twips / 15), the keyboard focus order and the first focus.
inline void expectLaidOut(const QWidget& window, const ExpectedWindow& expected) {
  EXPECT_EQ(window.windowTitle(), QString::fromLatin1(expected.caption));
  EXPECT_EQ(window.size(), QSize(expected.width / 15, expected.height / 15));
  std::vector<std::pair<int, QWidget*>> focusable;
  for (const ExpectedControl& c : expected.controls) {
    SCOPED_TRACE(c.name);
    auto* w = window.findChild<QWidget*>(QString::fromLatin1(c.name), Qt::FindDirectChildrenOnly);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(w->isHidden());
    const QString text = QString::fromLatin1(c.text);
    switch (c.kind) {
      case 'B':
        ASSERT_NE(qobject_cast<QPushButton*>(w), nullptr);
        EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), text);
        focusable.emplace_back(c.tab, w);
        break;
      case 'T':
        ASSERT_NE(qobject_cast<QLineEdit*>(w), nullptr);
        EXPECT_EQ(qobject_cast<QLineEdit*>(w)->text(), text);
        focusable.emplace_back(c.tab, w);
        break;
      default:
        ASSERT_NE(qobject_cast<QLabel*>(w), nullptr);
        EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), text);
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
        break;
    }
  }
  // No control beyond the expected ones.
  EXPECT_EQ(window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(),
            qsizetype(expected.controls.size()));
  // Tab goes from each control to the next in the layout's order, past any
  // inner widgets of the controls and the window itself (the chain is a ring).
  std::sort(focusable.begin(), focusable.end());
  auto isControl = [&](QWidget* w) {
    return std::any_of(focusable.begin(), focusable.end(), [w](const auto& f) { return f.second == w; });
  };
  for (std::size_t i = 1; i < focusable.size(); ++i) {
    QWidget* next = focusable[i - 1].second->nextInFocusChain();
    for (int guard = 0; next && !isControl(next) && guard < 1000; ++guard) next = next->nextInFocusChain();
    EXPECT_EQ(next, focusable[i].second) << focusable[i - 1].second->objectName().toStdString() << " before "
                                         << focusable[i].second->objectName().toStdString();
  }
  ASSERT_NE(window.focusWidget(), nullptr);
  EXPECT_EQ(window.focusWidget()->objectName(), QString::fromLatin1(expected.firstFocus));
}

}  // namespace tarvex::testing
