#include "scan/csv_log.h"

#include <gtest/gtest.h>

#include "tests/support/layout_boxes.h"

namespace tarvex {
namespace {

TEST(CsvLog, HeaderIsExact) {
  EXPECT_EQ(csvHeader(), QByteArray("RPM,Speed,IAT,ERT,MAF,LOAD,TPS,MAP,Timing,Coolant,"
                                    "KR,STFTB1,LTFTB1,STFTB2,LTFTB2,Gear,Volts,AFR,O2B1S1V,O2B1S2V,O2B2S1V,"
                                    "O2B2S2V,FuelStatusB1,FuelStatusB2,EGRD%,EGRA%,EGRDC,Time,\r\n"));
}

// Columns follow the log's order, not the scan's; the trouble-code count and
// the trims are not logged; a field that would shift the columns is quoted.
TEST(CsvLog, LineHoldsTheLoggedBoxesInColumnOrder) {
  MemoryBoxes boxes = testing::boxesFromLayout();
  boxes.setText(Box::kMAF, QStringLiteral("3,5"));
  boxes.setText(Box::kTPS, QStringLiteral("say \"hi\""));
  boxes.setText(Box::kDTC, QStringLiteral("7"));
  boxes.setText(Box::kO2B1S1T, QStringLiteral("-0.78125"));
  EXPECT_EQ(
      csvLine(boxes, QStringLiteral("06.12.26 20:00:00")),
      QByteArray("RPM,Speed,IAT,Runtime,\"3,5\",LOAD,\"say \"\"hi\"\"\",MAP,Timing,Coolant,Knock Retard,"
                 "STFTB1,LTFTB1,STFTB2,LTFTB2,Gear,Volts,AFR,O2B1S1,O2B1S2,O2B2S1,O2B2S2,"
                 "Fuel System Status B1,Fuel System Status B2,EGRDP,EGRAP,EGRDC,06.12.26 20:00:00\r\n"));
}

TEST(CsvLog, TimeIsTheShortDateAndTheLongTimeWithoutZone) {
  const QDateTime when(QDate(2026, 12, 6), QTime(20, 5, 9));
  EXPECT_EQ(logTimeText(when, QLocale(QLocale::English, QLocale::UnitedStates)),
            QStringLiteral("12/6/26 8:05:09 PM"));
  EXPECT_EQ(logTimeText(when, QLocale(QLocale::German, QLocale::Germany)),
            QStringLiteral("06.12.26 20:05:09"));
}

}  // namespace
}  // namespace tarvex
