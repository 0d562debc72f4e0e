#include "scan/decode.h"

#include <gtest/gtest.h>

#include "scan/value_boxes.h"
#include "tests/support/qt_print.h"

namespace tarvex {
namespace {

// Decodes an answer for the parameter whose box is given and returns the text
// written into a box (the same box unless another is named), or "<none>".
QString shown(Box row, const char* out, std::optional<Box> target = std::nullopt) {
  const auto it =
      std::find_if(catalogue().begin(), catalogue().end(), [&](const Parameter& p) { return p.box == row; });
  const QString prefix = QString::fromLatin1(it->prefix.data(), static_cast<qsizetype>(it->prefix.size()));
  const std::optional<Decoded> d = decodeReply(prefix, QString::fromLatin1(out), QLocale::c());
  if (!d) return QStringLiteral("<not decoded>");
  for (const auto& [box, text] : d->writes) {
    if (box == target.value_or(row)) return text;
  }
  return QStringLiteral("<none>");
}

TEST(Decode, ConversionEdgeValues) {
  const struct {
    Box row;
    const char* out;
    const char* text;
    std::optional<Box> target = std::nullopt;
  } cases[] = {
      {Box::kRPM, " 1A F8", "1726"},
      {Box::kRPM, " 1A FA", "1726.5"},
      {Box::kRPM, " FF FF", "16383.75"},
      {Box::kRPM, " 00 00", "0"},
      {Box::kMAF, " FF FF", "655.35"},
      {Box::kERT, " FF FF", "65535"},
      {Box::kSpeed, " 3C", "60"},
      {Box::kIAT, " 00", "-40"},
      {Box::kIAT, " FF", "215"},
      {Box::kCoolant, " 00", "-40"},
      {Box::kTPS, " FF", "100"},
      {Box::kLOAD, " 64", "39.2156862745098"},
      {Box::kEGRDC, " 80", "50.1960784313726"},
      {Box::kSTFTB1, " 80", "0"},
      {Box::kLTFTB1, " 00", "-100"},
      {Box::kLTFTB2, " FF", "99.21875"},
      {Box::kTiming, " 00", "-64"},
      {Box::kTiming, " FF", "63.5"},
      {Box::kVolts, " 8E", "14.2"},
      {Box::kAirFuel, " 93", "14.7"},
      {Box::kMAP, " FF", "255"},
      {Box::kKR, " 05", "5"},
      {Box::kGear, " 03", "3"},
      {Box::kO2B1S1, " 5A 80", "0.45"},
      {Box::kO2B1S1, " 5A 80", "0", Box::kO2B1S1T},
      {Box::kO2B2S2, " 5A 7F", "-0.78125", Box::kO2B2S2T},
      {Box::kO2B1S2, " 00 00", "0"},
      {Box::kO2B2S1, " 00 00", "-100", Box::kO2B2S1T},
      {Box::kO2B2S1, " FF FF", "1.275"},
      {Box::kDTC, " 83", "3"},
      {Box::kDTC, " 80", "0"},
      {Box::kDTC, " 7F", "127"},
      {Box::kFuelSysStatus, " 02 04", "Closed Loop"},
      {Box::kFuelSysStatus, " 02 04", "Open Loop Driving", Box::kFuelSysStatusB2},
      {Box::kFuelSysStatus, " 03 02", "<none>"},
      {Box::kFuelSysStatus, " 03 02", "Closed Loop", Box::kFuelSysStatusB2},
      {Box::kFuelSysStatus, " 00 00", "<none>", Box::kFuelSysStatusB2},
      {Box::kFuelSysStatus, " 08 10", "Open Loop Fault"},
      {Box::kFuelSysStatus, " 01 10", "Closed Loop Fault", Box::kFuelSysStatusB2},
      // Short, garbled or lower-case answers are not decoded at all.
      {Box::kRPM, " 1A \r\r", "<not decoded>"},
      {Box::kIAT, " NO", "<not decoded>"},
      {Box::kSpeed, " 3c", "<not decoded>"},
      {Box::kRPM, " 1A", "<not decoded>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown(c.row, c.out, c.target), QLatin1String(c.text)) << boxName(c.row) << " [" << c.out << "]";
  }
}

TEST(Decode, LampAndNeedles) {
  const struct {
    const char* prefix;
    const char* out;
    std::optional<std::uint32_t> mil;
    Decoded::Needle needle;
  } cases[] = {
      {"62 00 01", " 83", kMilOn, Decoded::Needle::kNone},
      {"62 00 01", " 80", kMilOn, Decoded::Needle::kNone},
      {"62 00 01", " 7F", kMilOff, Decoded::Needle::kNone},
      {"62 00 0C", " 1A F8", std::nullopt, Decoded::Needle::kTach},
      {"62 00 0D", " 3C", std::nullopt, Decoded::Needle::kSpeed},
      {"62 00 0F", " 3C", std::nullopt, Decoded::Needle::kNone},
  };
  for (const auto& c : cases) {
    const auto d = decodeReply(QString::fromLatin1(c.prefix), QString::fromLatin1(c.out), QLocale::c());
    ASSERT_TRUE(d) << c.prefix;
    EXPECT_EQ(d->milColour, c.mil) << c.prefix << c.out;
    EXPECT_EQ(d->needle, c.needle) << c.prefix;
  }
  EXPECT_FALSE(decodeReply(u"", QString(), QLocale::c()));
  EXPECT_FALSE(decodeReply(u"62 00 0c", QStringLiteral(" 1A F8"), QLocale::c()));
}

TEST(Decode, DecimalSeparatorFollowsTheLocale) {
  const auto d = decodeReply(u"62 00 0C", QStringLiteral(" 1A FA"), QLocale(QLocale::German));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->writes.front().second, QStringLiteral("1726,5"));
}

}  // namespace
}  // namespace tarvex
