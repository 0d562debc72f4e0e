#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "obd/answer.h"
#include "obd/pids.h"
#include "obd/readiness.h"
#include "obd/trouble_codes.h"
#include "tests/support/sim_rig.h"

namespace tarvex {
namespace {

using testing::SimRig;

// A rig without echo, then `setup`; ask() gives the answer lines without the prompt.
struct Car : SimRig {
  explicit Car(sim::Car car, std::initializer_list<const char*> setup = {})
      : SimRig(instant(), {.car = car}) {
    exchange("ATE0");
    for (const char* line : setup) exchange(line);
  }
  QByteArray ask(const QByteArray& line, Millis at = Millis{-1}) {
    if (at >= Millis{0}) now = std::max(now, Micros(at));
    QByteArray out = exchange(line);
    if (out.endsWith("\r\r>")) out.chop(3);
    return out;
  }
  std::vector<obd::Message> messages(const QByteArray& line, Millis at = Millis{-1}) {
    const obd::Bus bus = vehicle.config().car == sim::Car::Can ? obd::Bus::kCan11 : obd::Bus::kLegacy;
    return obd::parseAnswer(QString::fromLatin1(ask(line, at)), bus, adapter.settings().headers).messages;
  }
};

TEST(SimCanCar, SearchesThenNamesItsProtocol) {
  Car car(sim::Car::Can);
  QList<QByteArray> got;
  for (const char* line : {"ATDPN", "010D", "ATDPN", "ATDP", "010D", "ATSP6", "ATDPN"}) got << car.ask(line);
  EXPECT_EQ(got, (QList<QByteArray>{"0", "SEARCHING...\r41 0D 00 \r41 0D 00 ", "A6",
                                    "AUTO, ISO 15765-4 (CAN 11/500)", "41 0D 00 \r41 0D 00 ", "OK", "6"}));
}

TEST(SimCanCar, FramesAsTheSettingsSayAndOnlyOnItsOwnBus) {
  const QByteArray s = "SEARCHING...\r";
  const std::tuple<QList<QByteArray>, QByteArray, QByteArray> cases[] = {
      {{"ATH1"}, "010D", s + "7E8 03 41 0D 00 \r7E9 03 41 0D 00 "},
      {{"ATH1", "ATS0"}, "010D", s + "7E803410D00\r7E903410D00"},
      {{"ATH1", "ATSH 7E1"}, "010D", s + "7E9 03 41 0D 00 "},
      {{"ATSH 7E0"}, "010D", s + "41 0D 00 "},
      {{"ATCAF0"}, "010D", s + "03 41 0D 00 00 00 00 00 \r03 41 0D 00 00 00 00 00 "},
      {{}, "0902", s + "014\r0: 49 02 01 32 47 31 \r1: 46 4B 31 45 4A 32 41 \r2: 39 31 33 34 35 36 37 "},
      // Three stored codes need two frames, the last padded.
      {{"ATH1"}, "03", s + "7E8 10 08 43 03 01 71 03 00 \r7E8 21 04 42 00 00 00 00 00 \r7E9 02 43 00 "},
      {{}, "03", s + "008\r0: 43 03 01 71 03 00 \r1: 04 42 00 00 00 00 00 \r43 00 "},
      {{"ATH1"}, "07", s + "7E8 04 47 01 04 20 \r7E9 04 47 01 07 41 "},
      // Another protocol finds nobody; the main window's GM header and enhanced request neither.
      {{"ATSP2"}, "0100", "NO DATA"},
      {{"ATSP3"}, "0100", "BUS INIT: ...ERROR"},
      {{"ATSP7"}, "0100", "NO DATA"},
      {{"ATSP8"}, "0100", "CAN ERROR"},
      {{"ATSH 6C 10 F1"}, "22000C", s + "UNABLE TO CONNECT"},
      {{"ATSP6"}, "0199", "NO DATA"},
      {{"ATSP6"}, "01", "NO DATA"},
  };
  for (const auto& [setup, request, expected] : cases) {
    Car car(sim::Car::Can);
    for (const QByteArray& line : setup) car.ask(line);
    EXPECT_EQ(car.ask(request), expected) << setup.join(' ').constData() << " " << request.constData();
  }
}

TEST(SimCanCar, SeveralPidsInOneRequest) {
  Car car(sim::Car::Can, {"ATSP6", "ATH1"});
  const std::vector<int> asked = {0x0C, 0x0D, 0x05, 0x0A, 0x11, 0x2F};  // 0A is not served
  const auto messages = car.messages("010C0D050A112F", Millis{60'000});
  ASSERT_EQ(messages.size(), 2u);
  const obd::MultiAnswer multi = obd::parseMulti(asked, messages);
  EXPECT_FALSE(multi.cut);
  EXPECT_EQ(multi.missing, std::vector<int>{0x0A});
  QString got;
  for (const obd::PidAnswer& a : multi.answers)
    got += a.source + QString::number(a.pid, 16) + QLatin1Char(' ');
  EXPECT_EQ(got, QStringLiteral("7E8c 7E8d 7E85 7E811 7E82f 7E9c 7E9d "));
  EXPECT_EQ(multi.answers[0].data, multi.answers[5].data);  // both see the same engine
  EXPECT_EQ(car.ask("010C0D050A112F04"), "?");              // seven PIDs do not fit a frame
}

std::vector<int> servedPids(Car& car, const QByteArray& header) {
  car.ask("ATSH " + header);
  obd::SupportedPids supported;
  int base = 0;
  for (;; base += 0x20) {
    const auto messages = car.messages("01" + QByteArray::number(base, 16).rightJustified(2, '0'));
    EXPECT_EQ(messages.size(), 1u) << std::hex << base;
    if (!supported.add(base, messages)) break;
  }
  EXPECT_EQ(car.ask("01" + QByteArray::number(base + 0x20, 16)), "NO DATA");  // the chain ends
  for (int pid = 1; pid < 0xE0; ++pid) {
    if (obd::SupportedPids::isBitmap(pid)) continue;
    const auto messages = car.messages("01" + QByteArray::number(pid, 16).rightJustified(2, '0'));
    EXPECT_EQ(!messages.empty(), supported.has(pid)) << std::hex << pid;
    if (messages.empty()) continue;
    const obd::Pid* row = obd::findPid(pid);
    EXPECT_EQ(messages[0].data.size(), row ? 2u + std::size_t(row->bytes) : 0u) << std::hex << pid;
  }
  return supported.parameters();
}

TEST(SimCars, BitmapsNameWhatIsAnswered) {
  Car can(sim::Car::Can, {"ATSP6"});
  EXPECT_GT(servedPids(can, "7E0").size(), 30u);
  EXPECT_EQ(servedPids(can, "7E1"), (std::vector<int>{0x01, 0x0C, 0x0D, 0x1C}));  // the transmission alone
  Car vpw(sim::Car::GmVpw);
  EXPECT_GT(servedPids(vpw, "68 6A F1").size(), 20u);
}

std::optional<obd::Readiness> readinessOf(Car& car, Millis at) {
  for (const obd::Message& m : car.messages("0101", at))
    if (m.source == QLatin1String("7E8") && m.data.size() == 6)
      return obd::readReadiness(obd::Bytes(m.data).subspan(2));
  return std::nullopt;
}

// A clear takes stored and pending codes and the freeze frame, starts the readiness over, keeps 0A.
TEST(SimCanCar, CodesFreezeFrameAndClearing) {
  Car car(sim::Car::Can, {"ATSP6", "ATH1"});
  EXPECT_EQ(car.ask("020200"), "7E8 05 42 02 00 01 71 ");
  auto frozen = [&](const QByteArray& request) {
    const auto messages = car.messages(request);
    EXPECT_EQ(messages.size(), 1u) << request.constData();
    auto v = messages.empty() ? std::nullopt : obd::freezeFrameValue(messages[0].data);
    return v ? v->value.readings.at(0).value : -1000.0;
  };
  EXPECT_NEAR(frozen("020C00"), 610, 40);
  EXPECT_EQ(frozen("020D00"), 0);
  EXPECT_GT(frozen("020500"), 80);
  EXPECT_EQ(car.ask("020C01"), "NO DATA");  // there is one frame

  const auto before = readinessOf(car, Millis{1000});
  ASSERT_TRUE(before);
  EXPECT_EQ(std::pair(before->milOn, before->storedCodes), std::pair(true, 3));
  EXPECT_EQ(car.ask("04", Millis{400'000}), "7E8 01 44 \r7E9 01 44 ");
  EXPECT_EQ(car.ask("03"), "7E8 02 43 00 \r7E9 02 43 00 ");
  EXPECT_EQ(car.ask("07"), "7E8 02 47 00 \r7E9 02 47 00 ");
  EXPECT_EQ(car.ask("0A"), "7E8 06 4A 02 01 71 03 00 \r7E9 02 4A 00 ");  // kept
  EXPECT_EQ(car.ask("020200"), "NO DATA");
  const auto after = readinessOf(car, Millis{400'000});
  ASSERT_TRUE(after);
  EXPECT_EQ(std::pair(after->milOn, after->storedCodes), std::pair(false, 0));
  const auto incomplete = [](const obd::Readiness& r) {
    return std::ranges::count_if(r.monitors,
                                 [](const obd::Monitor& m) { return m.supported && !m.complete; });
  };
  EXPECT_EQ(incomplete(*after), incomplete(*before));
  // Distance (31) and minutes (4E) since clearing, and the lamp's distance (21), start from nothing.
  EXPECT_EQ(car.ask("0131214E"), "7E8 10 0A 41 31 00 00 21 00 \r7E8 21 00 4E 00 00 00 00 00 ");
}

TEST(SimVpwCar, StandardServicesInTheOlderForms) {
  Car car(sim::Car::GmVpw);
  const std::tuple<QByteArray, QByteArray> cases[] = {
      {"03", "43 01 71 03 00 00 00 "},
      {"020200", "42 02 00 01 71 "},
      {"0902",
       "49 02 01 00 00 00 32 \r49 02 02 47 31 46 50 \r49 02 03 32 32 47 36 \r49 02 04 57 32 31 31 \r"
       "49 02 05 32 33 34 35 "},
  };
  for (const auto& [request, expected] : cases) EXPECT_EQ(car.ask(request), expected) << request.constData();
  car.ask("ATH1");
  EXPECT_EQ(car.ask("04"), "48 6B 10 44 52 ");  // the check byte of J1850
  EXPECT_EQ(car.ask("03"), "48 6B 10 43 00 00 00 00 00 00 B0 ");
  EXPECT_EQ(car.ask("020200"), "NO DATA");
}

// After a clear, zeros until the monitor ran again (EVAP 3B: four drive cycles); the gearbox only alone.
TEST(SimCars, OnBoardTestsInEachCarsForm) {
  Car can(sim::Car::Can, {"ATSP6", "ATH1"});
  const std::tuple<QByteArray, Millis, QByteArray> cases[] = {
      {"0600", Millis{1000}, "7E8 06 46 00 C0 00 00 01 "},
      {"06A4", Millis{1000},
       "7E8 10 13 46 A4 0B 24 00 26 \r7E8 21 00 00 00 32 A4 0C 24 \r7E8 22 00 47 00 00 00 32 00 "},
      {"04", Millis{300'000}, "7E8 01 44 \r7E9 01 44 "},
      {"063B", Millis{300'000}, "7E8 10 0A 46 3B 80 FE 00 00 \r7E8 21 00 00 00 00 00 00 00 "},
      {"063B", Millis{600'000}, "7E8 10 0A 46 3B 80 FE FE D4 \r7E8 21 FC 18 FF 9C 00 00 00 "},
      {"ATSH 7E1", Millis{600'000}, "OK"},
      {"0600", Millis{600'000}, "7E9 03 7F 06 12 "},
  };
  for (const auto& [request, at, expected] : cases)
    EXPECT_EQ(can.ask(request, at), expected) << request.constData();

  Car vpw(sim::Car::GmVpw);
  const std::tuple<QByteArray, QByteArray> older[] = {
      {"0602", "46 02 11 00 03 00 64 \r46 02 12 00 02 00 64 \r46 02 13 00 05 00 64 \r46 02 14 00 01 00 64 "},
      {"0603", "46 03 81 00 18 00 20 "},
  };
  for (const auto& [request, expected] : older) EXPECT_EQ(vpw.ask(request), expected) << request.constData();
}

}  // namespace
}  // namespace tarvex
