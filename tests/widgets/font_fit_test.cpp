#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <cmath>

#include "core/text.h"
#include "ui/window_builder.h"

namespace tarvex {
namespace {

// The rectangle the widget draws its text in, as its style lays it out.
QRectF textRect(const QWidget& w) {
  QStyle* style = w.style();
  if (auto* button = qobject_cast<const QAbstractButton*>(&w)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool check = qobject_cast<const QCheckBox*>(&w) != nullptr;
    return style->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option,
                                 &w);
  }
  if (qobject_cast<const QLineEdit*>(&w)) {
    QStyleOptionFrame option;
    option.initFrom(&w);
    option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &w);
    // QLineEdit keeps 2 pixels left and right and 1 above and below free.
    return QRectF(style->subElementRect(QStyle::SE_LineEditContents, &option, &w)).adjusted(2, 1, -2, -1);
  }
  return w.contentsRect();  // a label: no frame, no margin, no indent
}

// In the font the widget got (fontconfig may swap the family); text boxes scroll: height only.
TEST(FontFit, EveryCaptionFitsItsBoxInTheFontItIsDrawnWith) {
  for (const WindowSpec* layout :
       {&tarvexLayout(), &dtcReaderLayout(), &dragstripLayout(), &gaugesLayout()}) {
    QWidget window;
    const ControlMap controls = buildWindow(window, *layout);
    for (const ControlSpec& c : layout->controls) {
      if (c.text.empty() || c.kind == ControlKind::kFilledSquare || c.kind == ControlKind::kPicture) continue;
      SCOPED_TRACE(std::string(layout->name) + "." + std::string(c.name));
      const QWidget* w = controls.widget(toQString(c.name));
      ASSERT_NE(w, nullptr);

      const std::string_view asked = c.style.fontFamily.empty() ? kDialogFontFamily : c.style.fontFamily;
      EXPECT_TRUE(std::ranges::any_of(fontSubstitutes(), [&](const auto& f) { return f.requested == asked; }))
          << "no installed font named for " << asked;
      const QFontInfo info(w->font());
      EXPECT_EQ(info.family(), toQString(installedFontFamily(asked))) << "is its Debian package installed?";

      QFont drawn(info.family());
      drawn.setPointSizeF(info.pointSizeF());
      drawn.setWeight(QFont::Weight(info.weight()));
      drawn.setItalic(info.italic());
      const QFontMetricsF metrics(drawn);
      const QString text = toQString(c.text);
      const QRectF ink = metrics.tightBoundingRect(text);
      const QRectF box = textRect(*w);
      // Glyphs sit on whole pixels: the centred baseline is rounded.
      const double baseline =
          std::round((box.height() - metrics.ascent() - metrics.descent()) / 2 + metrics.ascent());
      EXPECT_GE(baseline + ink.top(), 0) << "top cut off in " << info.family().toStdString();
      EXPECT_LE(baseline + ink.bottom(), box.height()) << "bottom cut off in " << info.family().toStdString();
      if (c.kind == ControlKind::kTextBox) continue;
      // Buttons centre their caption, labels and check boxes start it at the left.
      const double left = c.kind == ControlKind::kButton
                              ? std::round((box.width() - metrics.horizontalAdvance(text)) / 2)
                              : 0;
      EXPECT_GE(left + ink.left(), 0) << "left cut off in " << info.family().toStdString();
      EXPECT_LE(left + ink.right(), box.width())
          << "right cut off in " << info.family().toStdString() << " " << info.pointSizeF() << " pt";
    }
  }
}

}  // namespace
}  // namespace tarvex
