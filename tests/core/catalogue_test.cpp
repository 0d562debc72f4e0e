#include "scan/catalogue.h"

#include <gtest/gtest.h>

#include <QString>

#include "app/layouts.h"
#include "scan/csv_log.h"

namespace tarvex {
namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The catalogue as published for the enhanced identifiers: scan order,
// request, reply prefix, data bytes, box, log column. Kept here as text so a
// changed table row shows up as a failing line.
TEST(Catalogue, RowsAsPublished) {
  const char* expected[] = {
      "1 22000C01 62 00 0C 2 RPM 1",       "2 22000D01 62 00 0D 1 Speed 2",
      "3 22000F01 62 00 0F 1 IAT 3",       "4 22001101 62 00 11 1 TPS 7",
      "5 22000401 62 00 04 1 LOAD 6",      "6 22001001 62 00 10 2 MAF 5",
      "7 22000501 62 00 05 1 Coolant 10",  "8 22000601 62 00 06 1 STFTB1 12",
      "9 22000701 62 00 07 1 LTFTB1 13",   "10 2211A101 62 11 A1 2 ERT 4",
      "11 22000B01 62 00 0B 1 MAP 8",      "12 22000E01 62 00 0E 1 Timing 9",
      "13 22125D01 62 12 5D 1 KR 11",      "14 22000101 62 00 01 1 DTC 0",
      "15 2219F501 62 19 F5 1 Gear 16",    "16 22114101 62 11 41 1 Volts 17",
      "17 22119E01 62 11 9E 1 AirFuel 18", "18 22001401 62 00 14 2 O2B1S1 19",
      "19 22001501 62 00 15 2 O2B1S2 20",  "20 22001801 62 00 18 2 O2B2S1 21",
      "21 22001901 62 00 19 2 O2B2S2 22",  "22 22000301 62 00 03 2 FuelSysStatus 23",
      "23 22119B01 62 11 9B 1 EGRDP 25",   "24 22115201 62 11 52 1 EGRAP 26",
      "25 22117101 62 11 71 1 EGRDC 27",   "26 22000801 62 00 08 1 STFTB2 14",
      "27 22000901 62 00 09 1 LTFTB2 15",
  };
  ASSERT_EQ(std::size(expected), catalogue().size());
  for (std::size_t i = 0; i < catalogue().size(); ++i) {
    const Parameter& p = catalogue()[i];
    const QString row = QStringLiteral("%1 %2 %3 %4 %5 %6")
                            .arg(p.position)
                            .arg(qs(p.request), qs(p.prefix))
                            .arg(p.bytes)
                            .arg(qs(boxName(p.box)))
                            .arg(p.csvColumn);
    EXPECT_EQ(row, QLatin1String(expected[i]));
    EXPECT_EQ(&parameterAt(p.position), &p);
    EXPECT_EQ(parameterByPrefix(qs(p.prefix)), &p);
  }
  EXPECT_EQ(parameterByPrefix(u""), nullptr);
  EXPECT_EQ(parameterByPrefix(u"62 00 0c"), nullptr);
  EXPECT_EQ(parameterByPrefix(u"41 0D"), nullptr);
}

// The selection at start is the enabled state of the laid-out boxes, and every
// box the scan fills exists on the main window as a text box.
TEST(Catalogue, AgreesWithTheMainWindowLayout) {
  for (int i = 0; i < kBoxCount; ++i) {
    const ControlSpec* c = tarvexLayout().control(boxName(static_cast<Box>(i)));
    ASSERT_NE(c, nullptr) << boxName(static_cast<Box>(i));
    EXPECT_EQ(c->kind, ControlKind::kTextBox);
  }
  int selected = 0;
  for (const Parameter& p : catalogue()) {
    EXPECT_EQ(tarvexLayout().control(boxName(p.box))->style.enabled, p.selectedAtStart) << p.position;
    selected += p.selectedAtStart;
  }
  EXPECT_EQ(selected, 22);
}

TEST(CsvHeader, ExactBytes) {
  EXPECT_EQ(csvHeader(), QByteArray("RPM,Speed,IAT,ERT,MAF,LOAD,TPS,MAP,Timing,Coolant,"
                                    "KR,STFTB1,LTFTB1,STFTB2,LTFTB2,Gear,Volts,AFR,O2B1S1V,O2B1S2V,O2B2S1V,"
                                    "O2B2S2V,FuelStatusB1,FuelStatusB2,EGRD%,EGRA%,EGRDC,Time,\r\n"));
  // Column order follows the log, not the scan: the DTC box and trims are not logged.
  EXPECT_EQ(csvColumns()[3].box, Box::kERT);
  EXPECT_EQ(csvColumns()[6].box, Box::kTPS);
  EXPECT_EQ(csvColumns()[23].box, Box::kFuelSysStatusB2);
  for (const CsvColumn& c : csvColumns()) EXPECT_NE(c.box, Box::kDTC);
}

}  // namespace
}  // namespace tarvex
