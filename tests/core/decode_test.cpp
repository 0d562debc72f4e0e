#include "scan/decode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"
#include "scan/value_boxes.h"
#include "tests/core/data_rows.h"

namespace tarvex {
namespace {

const Parameter& rowAnswering(const QString& prefix) {
  const auto row = std::find_if(catalogue().begin(), catalogue().end(),
                                [&](const Parameter& p) { return toQString(p.prefix) == prefix; });
  EXPECT_NE(row, catalogue().end()) << prefix.toStdString();
  return *row;
}

QString render(const std::optional<Decoded>& d) {
  if (!d) return QStringLiteral("not decoded");
  QStringList parts;
  for (const auto& [box, text] : d->writes) parts << toQString(boxName(box)) + '=' + text;
  if (d->milColour) parts << (*d->milColour == kMilOn ? QStringLiteral("MIL=on") : QStringLiteral("MIL=off"));
  return parts.join(QStringLiteral("; "));
}

TEST(Decode, AnswersAsTheyShow) {
  for (const QStringList& f : testing::dataRows("decoding.txt")) {
    ASSERT_EQ(f.size(), 3) << f.join(u'|').toStdString();
    EXPECT_EQ(render(decode(rowAnswering(f[0]), f[1], QLocale::c())), f[2])
        << f[0].toStdString() << " [" << f[1].toStdString() << "]";
  }
}

}  // namespace
}  // namespace tarvex
