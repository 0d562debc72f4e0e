#include <gtest/gtest.h>

#include "obd/trouble_codes.h"
#include "obd/vehicle_info.h"

namespace tarvex::obd {
namespace {

// Codes as "source:code" with headers, "code" without.
TEST(ObdCodes, EveryAnswerFormat) {
  using enum Bus;
  using enum CodeService;
  const std::tuple<const char*, Bus, bool, CodeService, const char*, const char*> cases[] = {
      {"J1850, one line with padding", kLegacy, false, kStored, "43 01 71 03 00 00 00\r\r>", "P0171 P0300"},
      {"J1850, two lines, echo and search first", kLegacy, false, kStored,
       "03\rSEARCHING...\r43 01 71 03 00 04 20\r43 01 33 00 00 00 00\r", "P0171 P0300 P0420 P0133"},
      {"J1850 headers on, engine and transmission", kLegacy, true, kStored,
       "48 6B 10 43 01 71 03 00 00 00 5A\r48 6B 18 43 07 40 00 00 00 00 11\r", "10:P0171 10:P0300 18:P0740"},
      {"ISO 9141 without spaces", kLegacy, true, kPending, "486B11470133000000009C\r", "11:P0133"},
      {"every letter", kLegacy, false, kStored, "43 41 23 81 23 C1 23\r43 31 71 2A 00 00 00\r",
       "C0123 B0123 U0123 P3171 P2A00"},
      {"CAN, count byte", kCan11, false, kStored, "43 02 01 71 03 00\r", "P0171 P0300"},
      {"CAN, no codes", kCan11, false, kStored, "43 00\r", ""},
      {"CAN, several frames", kCan11, false, kStored, "00A\r0: 43 04 01 71 03 00\r1: 04 20 C1 23 00 00 00\r",
       "P0171 P0300 P0420 U0123"},
      {"CAN, a frame lost: the codes before it", kCan11, false, kStored,
       "00E\r0: 43 06 01 71 03 00\r2: 04 00 00 00 00 00 00\r", "P0171 P0300"},
      {"CAN headers on, two controllers", kCan11, true, kStored,
       "7E8 06 43 02 01 71 03 00\r7E9 04 43 01 07 40\r", "7E8:P0171 7E8:P0300 7E9:P0740"},
      {"CAN headers on, frames of two controllers interleaved", kCan11, true, kStored,
       "7E8 10 0A 43 04 01 71 03 00\r7E9 04 43 01 07 40\r7E8 21 04 20 C1 23 00 00 00\r",
       "7E8:P0171 7E8:P0300 7E8:P0420 7E8:U0123 7E9:P0740"},
      {"CAN 29-bit headers on", kCan29, true, kStored, "18 DA F1 10 06 43 02 01 71 03 00\r",
       "18DAF110:P0171 18DAF110:P0300"},
      {"CAN pending, a stored answer ignored", kCan11, false, kPending, "47 01 01 33\r43 01 01 71\r",
       "P0133"},
      {"CAN permanent", kCan11, false, kPermanent, "4A 01 C0 73\r", "U0073"},
      {"NO DATA", kCan11, false, kStored, "NO DATA\r\r>", ""},
  };
  for (const auto& [what, bus, headers, service, text, codes] : cases) {
    QStringList got;
    for (const TroubleCode& t :
         troubleCodes(parseAnswer(QString::fromLatin1(text), bus, headers).messages, service, bus))
      got << (t.source.isEmpty() ? t.code : t.source + QLatin1Char(':') + t.code);
    EXPECT_EQ(got.join(QLatin1Char(' ')), QLatin1String(codes)) << what;
  }
}

TEST(ObdCodes, LinesWithoutDataAreNotesAndControllersHaveNames) {
  const Answer a = parseAnswer(QStringLiteral("0100\rBUS INIT: ...OK\r41 00 BE 1F A8 13\rCAN ERROR\r?\r"),
                               Bus::kLegacy, false);
  EXPECT_EQ(a.messages.size(), 1u);
  EXPECT_EQ(a.notes, (QStringList{"0100", "CAN ERROR", "?"}));
  // A clone's search dots run into the first answer's line.
  const Answer dots = parseAnswer(
      QStringLiteral("0100\rSEARCHING...\r...41 00 BF BF B9 93 \r41 00 80 18 00 10 \r"), Bus::kCan11, false);
  EXPECT_EQ(dots.messages.size(), 2u);
  const Answer j1850 = parseAnswer(QStringLiteral("48 6B 10 41 0D 3C 9A\r"), Bus::kLegacy, true);
  EXPECT_EQ(j1850.messages.at(0).data, (std::vector<std::uint8_t>{0x41, 0x0D, 0x3C}));  // no checksum
  EXPECT_EQ(controllerName(QStringLiteral("7E8")), "engine (7E8)");
  EXPECT_EQ(controllerName(QStringLiteral("7E9")), "transmission (7E9)");
  EXPECT_EQ(controllerName(QStringLiteral("18DAF118")), "transmission (18DAF118)");
  EXPECT_EQ(controllerName(QStringLiteral("7EA")), "7EA");
  EXPECT_EQ(protocolFromDpn(QStringLiteral("A6"))->bus, Bus::kCan11);
  EXPECT_EQ(protocolFromDpn(QStringLiteral("2"))->name, "SAE J1850 VPW (10.4 kbaud)");
  EXPECT_FALSE(protocolFromDpn(QStringLiteral("?")).has_value());
}

TEST(ObdCodes, DescriptionsAndWhatTheDigitsTell) {
  const std::pair<const char*, const char*> cases[] = {
      {"P0171", "System too lean (bank 1)"},
      {"P0300", "Random/multiple cylinder misfire detected"},
      {"P0420", "Catalyst efficiency below threshold (bank 1)"},
      {"U0100", "Lost communication with the engine/powertrain control module A"},
      {"P1234", "Manufacturer-specific powertrain code: fuel and air metering (injector circuit)"},
      {"P0999", "Generic powertrain code, not described here: transmission"},
      {"P2500", "Generator lamp/L terminal: circuit low"},
      {"P2550", "Generic powertrain code, not described here: auxiliary inputs"},
      {"P3000", "Manufacturer-specific powertrain code"},
      {"P3499", "Generic powertrain code, not described here: cylinder deactivation"},
      {"U0400", "Generic network code, not described here: network data"},
      {"U1100", "Manufacturer-specific network code"},
      {"C0035", "Generic chassis code, not described here"},
      {"B1000", "Manufacturer-specific body code"},
  };
  for (const auto& [code, text] : cases)
    EXPECT_EQ(describeCode(QLatin1String(code)), QLatin1String(text)) << code;
}

TEST(ObdInfo, VinAndEcuName) {
  auto messages = [](const char* text, Bus bus = Bus::kCan11) {
    return parseAnswer(QString::fromLatin1(text), bus, false).messages;
  };
  auto vinOf = [&](const char* text, Bus bus = Bus::kCan11) {
    return vin(messages(text, bus), bus).value_or(QString());
  };
  // The adapter's published examples: J1850 lines put in order by their number; CAN frames.
  EXPECT_EQ(vinOf("49 02 01 00 00 00 31\r49 02 03 30 30 52 35\r49 02 02 44 34 47 50\r49 02 04 35 42 31 32\r"
                  "49 02 05 33 34 35 36\r",
                  Bus::kLegacy),
            "1D4GP00R55B123456");
  EXPECT_EQ(vinOf("014\r0: 49 02 01 31 44 34\r1: 47 50 30 30 52 35 35\r2: 42 31 32 33 34 35 36\r"),
            "1D4GP00R55B123456");
  EXPECT_EQ(vinOf("014\r0: 49 02 01 31 44 34\r2: 42 31 32 33 34 35 36\r"), "");  // a lost frame: no VIN
  const auto name = readInfo(messages("017\r0: 49 0A 01 45 43 4D\r1: 00 2D 45 6E 67 69 6E\r"
                                      "2: 65 43 6F 6E 74 72 6F\r3: 6C 00 00 00 00 00 00\r"),
                             kEcuNamePid, Bus::kCan11);
  ASSERT_EQ(name.size(), 1u);
  EXPECT_EQ(name[0].items, QStringList{"ECM-EngineControl"});
}

}  // namespace
}  // namespace tarvex::obd
