#include "app/layouts.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

namespace tarvex {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
QString orDash(std::string_view s) { return s.empty() ? QStringLiteral("-") : qs(s); }
QString rgb(Rgb c) { return QStringLiteral("(%1, %2, %3)").arg(c.red).arg(c.green).arg(c.blue); }
QString joined(const QStringList& cells) { return cells.join(QLatin1Char('|')); }

QString controlRow(const ControlSpec& c) {
  static const char* const kinds[] = {"label", "text box", "button", "check box", "filled square", "picture"};
  QStringList other;
  if (!c.style.fontFamily.empty()) {
    other << QStringLiteral("font %1, %2 pt%3")
                 .arg(qs(c.style.fontFamily))
                 .arg(c.style.fontPoints)
                 .arg(c.style.bold ? QStringLiteral(", bold") : QString());
  }
  if (!c.style.enabled) other << QStringLiteral("disabled");
  if (!c.style.visible) other << QStringLiteral("hidden");
  if (c.style.transparent) other << QStringLiteral("transparent background");
  if (c.style.fill) other << QStringLiteral("solid fill grey ") + rgb(*c.style.fill);
  if (!c.style.note.empty()) other << qs(c.style.note);
  return joined({qs(c.name), QLatin1String(kinds[int(c.kind)]), orDash(c.text), orDash(c.toolTip),
                 QString::number(c.left), QString::number(c.top), QString::number(c.width),
                 QString::number(c.height), c.tab < 0 ? QStringLiteral("-") : QString::number(c.tab),
                 other.isEmpty() ? QStringLiteral("-") : other.join(QStringLiteral(", "))});
}

// Our four layouts written out in the form of the published tables.
QStringList render() {
  QStringList lines;
  for (const WindowSpec* w : {&tarvexLayout(), &dtcReaderLayout(), &dragstripLayout(), &gaugesLayout()}) {
    lines << QStringLiteral("window ") +
                 joined({qs(w->name), qs(w->caption), QString::number(w->width), QString::number(w->height),
                         w->placement == Placement::kTopLeft ? QStringLiteral("top left") : QStringLiteral("system"),
                         w->background ? rgb(*w->background) : QStringLiteral("default"),
                         w->firstFocus.empty() ? QStringLiteral("none") : qs(w->firstFocus)});
    for (const ControlSpec& c : w->controls) lines << controlRow(c);
    if (!w->lines.empty()) lines << QStringLiteral("needles ") + qs(w->name);
    for (const LineSpec& l : w->lines) {
      lines << joined({qs(l.name), QStringLiteral("red ") + rgb(l.colour), QString::number(l.width),
                       QString::number(l.x1), QString::number(l.y1), QString::number(l.x2), QString::number(l.y2)});
    }
  }
  return lines;
}

TEST(Layouts, AsPublished) {
  QFile file(QStringLiteral(TARVEX_TEST_DATA "/layouts.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QStringList published;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    if (!line.startsWith(QLatin1Char('#'))) published << line;
  }
  const QStringList ours = render();
  ASSERT_EQ(ours.size(), published.size());
  for (qsizetype i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i], published[i]);
}

}  // namespace
}  // namespace tarvex
