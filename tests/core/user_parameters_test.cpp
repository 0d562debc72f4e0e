#include "obd/user_parameters.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace tarvex::obd {
namespace {

using B = std::vector<std::uint8_t>;

UserParameter one(const char* line) {
  const UserParameterFile file = readUserParameters(QByteArray(line));
  EXPECT_TRUE(file.refused.empty()) << line << ": " << file.refused.front().reason.toStdString();
  EXPECT_EQ(file.parameters.size(), 1u) << line;
  return file.parameters.front();
}

TEST(UserParameters, EachBadLineIsRefusedWithItsReason) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"Boost,BST,221940,A+*2,0,1,kPa,", 1,
       "the equation \"A+*2\" does not parse: Unexpected operator \"*\" found at position 2"},
      {"Boost,BST,221940,foo(A),0,1,kPa,", 1,
       "the equation \"foo(A)\" does not parse: Unexpected parenthesis \"(\" at position 3"},
      {"Boost,BST,221940,{A:8},0,1,kPa,", 1,
       "the equation \"{A:8}\" does not parse: Unexpected token \"{A:8}"},
      {"Boost,BST,22ZZ40,A,0,1,kPa,", 1, "the request \"22ZZ40\" is no service and PID in hex"},
      {"Boost,BST,0x231940,A,0,1,kPa,", 1, "the request \"0x231940\" is of service 23, not 01, 21 or 22"},
      {"Boost,BST,2219,A,0,1,kPa,", 1, "the request \"2219\" needs a PID of 4 hex digits after service 22"},
      {"Boost,BST,010C0D,A,0,1,kPa,", 1,
       "the request \"010C0D\" needs a PID of 2 hex digits after service 01"},
      {"Boost,BST,221940,A,0,1,kPa,7E", 1, "the header \"7E\" is not 3 or 6 hex digits"},
      {"Boost,,221940,A,0,1,kPa,", 1, "no short name"},
      {"Boost,BST,221940,A,0,1,kPa", 1, "7 fields where there should be 8"},
      {"Boost,BST,221940,A,0,1,kPa,7E0,x", 1, "9 fields where there should be 8"},
      {"Boost,BST,221940,A,0,1,kPa,\r\nBoost 2,bst,221941,A,0,1,kPa,\r\n", 2,
       "the short name \"bst\" is already taken"},
      {"Name,ShortName,ModeAndPID,Equation,Min Value,Max "
       "Value,Units,Header\n\n\"Boost,BST,221940,A,0,1,kPa,\n",
       3, "a quote is left open"},
      {"\"Boost\"x,BST,221940,A,0,1,kPa,", 1, "text follows a closing quote"},
  };
  for (const auto& [text, line, reason] : cases) {
    SCOPED_TRACE(text);
    const UserParameterFile file = readUserParameters(QByteArray(text));
    ASSERT_EQ(file.refused.size(), 1u);
    EXPECT_EQ(file.refused[0].line, line);
    EXPECT_TRUE(file.refused[0].reason.startsWith(QString::fromUtf8(reason)))
        << file.refused[0].reason.toStdString();
    EXPECT_TRUE(file.failure.isEmpty());
  }
}

TEST(UserParameters, GoodLinesAreReadAndTheRestStillLoads) {
  const QByteArray text =
      "\xEF\xBB\xBFName,ShortName,ModeAndPID,Equation,Min Value,Max Value,Units,Header\r\n"
      "Trans temp,TFT,0x221940,A-40,-40,215,\xC2\xB0"
      "C,7E0\r\n"
      "\"Knock retard, \"\"cyl 1\"\"\",KR1,\"221234\",signed(A)*0.5,-64,63.5,\xC2\xB0,\r\n"
      "\"Two\r\nlines\",TL,2101,{B:0}+{ A : 7 }*2,0,3,,da10f1\r\n"
      "Bad,BAD,0x991940,A,0,1,,\r\n"
      "Engine speed,RPM,010c,(A*256+B)/4,0,16383.75,rpm,\r\n";
  const UserParameterFile file = readUserParameters(text);
  ASSERT_EQ(file.refused.size(), 1u);
  EXPECT_EQ(file.refused[0].line, 6);  // the line end inside quotes counts
  ASSERT_EQ(file.parameters.size(), 4u);

  // Name, short name, request, header, unit, limits: each as the file meant it.
  QStringList got;
  for (const UserParameter& p : file.parameters)
    got << p.name() + u'|' + p.shortName() + u'|' + p.requestText() + u'|' + p.header() + u'|' + p.unit() +
               u'|' + QString::number(p.min().value_or(-1), 'g', 10) + u'|' +
               QString::number(p.max().value_or(-1), 'g', 10);
  EXPECT_EQ(got, (QStringList{"Trans temp|TFT|221940|7E0|\u00B0C|-40|215",
                              "Knock retard, \"cyl 1\"|KR1|221234||\u00B0|-64|63.5",
                              "Two\r\nlines|TL|2101|DA10F1||0|3", "Engine speed|RPM|010C||rpm|0|16383.75"}));
}

// Values worked out by hand from the equations.
TEST(UserParameters, EquationsDecodeTheDataBytes) {
  const std::tuple<const char*, B, std::optional<double>> cases[] = {
      {"A-40", {0x82}, 90},
      {"A-40", {}, std::nullopt},  // no byte: no value, never -40
      {"(A*256+B)/4", {0x1A, 0xF8}, 1726},
      {"(A*256+B)/4", {0x1A}, std::nullopt},
      {"(A*256+B)/4", {0x1A, 0xF8, 0x55}, 1726},  // a byte more is not read
      {"{A:7}", {0x80}, 1},
      {"{A:7}", {0x7F}, 0},
      {"{B:0}*2+{A:1}", {0x02, 0x01}, 3},
      {"bit(A,3)", {0x08}, 1},
      {"signed(A)*0.5", {0xFE}, -1},
      {"signed(A)*0.5", {0x7F}, 63.5},
      {"Signed(A)", {0x80}, -128},
      {"A/B", {0x10, 0x00}, std::nullopt},  // division by zero: no number
      {"A>100 ? 1 : 0", {0x65}, 1},
      {"Z", B(26, 7), 7},
      {"Z", B(25, 7), std::nullopt},
      {"12.5", {}, 12.5},
  };
  for (const auto& [equation, data, value] : cases) {
    const QByteArray line = QByteArray("P,P,221940,\"") + equation + "\",0,1,,";
    const UserParameter p = one(line.constData());
    EXPECT_EQ(p.decode(data), value) << equation;
  }
}

TEST(UserParameters, AnswersToTheRequestAndTheStep) {
  const UserParameter tft = one("T,T,0x221940,A-40,-40,215,C,7E0");
  EXPECT_EQ(tft.decode(tft.dataOf(B{0x62, 0x19, 0x40, 0x82}).value()), 90);
  EXPECT_FALSE(tft.dataOf(B{0x62, 0x19, 0x41, 0x82}));
  EXPECT_FALSE(tft.dataOf(B{0x7F, 0x22, 0x31}));  // refused
  EXPECT_TRUE(one("T,T,2105,A,0,1,,").dataOf(B{0x61, 0x05, 0x00}));
  EXPECT_DOUBLE_EQ(one("T,T,010C,(A*256+B)/4,0,1,,").step(), 0.25);
  EXPECT_DOUBLE_EQ(one("T,T,010C,{A:7},0,1,,").step(), 0);  // one count changes no bit 7

  const std::pair<int, double> pids[] = {{0x0C, 0.25},  {0x0D, 1},   {0x04, 100 / 255.0}, {0x06, 0.78125},
                                         {0x14, 0.005}, {0xA6, 0.1}, {0x44, 2 / 65536.0}};
  for (const auto& [pid, step] : pids) EXPECT_NEAR(pidStep(*findPid(pid)), step, 1e-12) << pid;
}

TEST(UserParameters, FilesThatAreNoUtf8OrNotThere) {
  const UserParameterFile latin1 = readUserParameters(
      "T,T,0x221940,A-40,-40,215,\xB0"
      "C,7E0");
  ASSERT_EQ(latin1.parameters.size(), 1u);
  EXPECT_EQ(latin1.parameters[0].unit(), QStringLiteral("\u00B0C"));
  EXPECT_EQ(one("\xEF\xBB\xBFTrans temp,TFT,221940,A,0,1,,").name(), QStringLiteral("Trans temp"));
  QTemporaryDir dir;
  EXPECT_FALSE(loadUserParameters(dir.filePath(QStringLiteral("none.csv"))).failure.isEmpty());
}

}  // namespace
}  // namespace tarvex::obd
