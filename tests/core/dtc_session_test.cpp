#include "dtc/dtc_session.h"

#include <gtest/gtest.h>

#include "tests/support/fake_serial_port.h"

namespace tarvex {
namespace {

using testing::FakeSerialPort;

TEST(DtcSession, WritesExactlyTheResetReadAndClearLines) {
  FakeSerialPort port;
  DtcSession session(port);
  EXPECT_EQ(session.open(), std::nullopt);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(session.sendRead(), std::nullopt);
  EXPECT_EQ(session.sendReset(), std::nullopt);
  EXPECT_EQ(session.sendRead(), std::nullopt);
  // One write per command, each with CR LF.
  EXPECT_EQ(port.writes(), (QList<QByteArray>{"ATZ\r\n", "03\r\n", "04\r\n", "03\r\n"}));
  session.close();
  EXPECT_FALSE(port.isOpen());
}

struct AppendCase {
  const char* name;
  std::vector<QByteArray> pieces;
  QString expected;
};

class DtcAppend : public ::testing::TestWithParam<AppendCase> {};

TEST_P(DtcAppend, AppendsPiecesInArrivalOrder) {
  FakeSerialPort port;
  DtcSession session(port);
  ASSERT_EQ(session.open(), std::nullopt);
  int changes = 0;
  session.setOutputChanged([&](const QString& text) {
    ++changes;
    EXPECT_EQ(text, session.output());
  });
  for (const QByteArray& piece : GetParam().pieces) port.receive(piece);
  EXPECT_EQ(session.output(), GetParam().expected);
  int nonEmpty = 0;
  for (const QByteArray& piece : GetParam().pieces) nonEmpty += piece.isEmpty() ? 0 : 1;
  EXPECT_EQ(changes, nonEmpty);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DtcAppend,
    ::testing::Values(AppendCase{"FirstTextRightAfterInitial", {"ATZ"}, "DTC HereATZ"},
                      AppendCase{"LoneCrBecomesCrLf", {"43 01 33", "\r"}, "DTC Here43 01 33\r\n"},
                      AppendCase{"CrInsideLongerPieceStays", {"43 01 33\r", "\r>"}, "DTC Here43 01 33\r\r>"},
                      AppendCase{"CrAtStartOfLongerPieceStays", {"\r\r"}, "DTC Here\r\r"},
                      AppendCase{"TwoAnswersInOrder",
                                 {"03\r43 00\r", "\r", ">03\r43 01\r"},
                                 "DTC Here03\r43 00\r\r\n>03\r43 01\r"},
                      AppendCase{"NothingWaitingChangesNothing", {""}, "DTC Here"},
                      AppendCase{"LoneLineFeedUnchanged", {"\n"}, "DTC Here\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DtcSession, IgnoresEveryNotificationButReceive) {
  FakeSerialPort port;
  DtcSession session(port);
  ASSERT_EQ(session.open(), std::nullopt);
  int changes = 0;
  session.setOutputChanged([&](const QString&) { ++changes; });
  port.raise(kCommEventSend);
  port.raise(kCommEventError);
  EXPECT_EQ(session.output(), QStringLiteral("DTC Here"));
  EXPECT_EQ(changes, 0);
}

TEST(DtcSession, OpenFailureNamesDeviceAndReasonAndWritesNothing) {
  FakeSerialPort port(QStringLiteral("/dev/ttyUSB7"));
  port.failOpenWith(QStringLiteral("Device or resource busy"));
  DtcSession session(port);
  const std::optional<QString> failure = session.open();
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->contains(QStringLiteral("/dev/ttyUSB7"))) << failure->toStdString();
  EXPECT_TRUE(failure->contains(QStringLiteral("Device or resource busy"))) << failure->toStdString();
  // The buttons with the port still held elsewhere: reported, nothing written.
  EXPECT_TRUE(session.sendRead().has_value());
  EXPECT_TRUE(session.sendReset().has_value());
  EXPECT_TRUE(port.writes().isEmpty());
  // Once the other holder lets go, the next click takes the port and is sent.
  port.failOpenWith(QString());
  EXPECT_EQ(session.sendRead(), std::nullopt);
  EXPECT_EQ(port.writes(), QList<QByteArray>{"03\r\n"});
}

TEST(DtcSession, KeepsTheNewestTextWhenTheOutputOutgrowsItsLimit) {
  FakeSerialPort port;
  DtcSession session(port);
  ASSERT_EQ(session.open(), std::nullopt);
  const QByteArray chunk(1000, 'A');
  for (int i = 0; i < 100; ++i) port.receive(chunk);
  port.receive("TAIL");
  EXPECT_EQ(session.output().size(), DtcSession::kMaxOutput);
  EXPECT_GE(DtcSession::kMaxOutput, 64 * 1024);
  EXPECT_TRUE(session.output().endsWith(QStringLiteral("ATAIL")));
  EXPECT_FALSE(session.output().contains(QStringLiteral("DTC Here")));

  // A user edit that is too long is trimmed the same way.
  session.setOutput(QString(DtcSession::kMaxOutput, QLatin1Char('B')) + QStringLiteral("END"));
  EXPECT_EQ(session.output().size(), DtcSession::kMaxOutput);
  EXPECT_TRUE(session.output().endsWith(QStringLiteral("BEND")));
}

TEST(DtcSession, AppendsToTheUsersEditedText) {
  FakeSerialPort port;
  DtcSession session(port);
  ASSERT_EQ(session.open(), std::nullopt);
  session.setOutput(QStringLiteral("mine:"));
  port.receive("43 00");
  EXPECT_EQ(session.output(), QStringLiteral("mine:43 00"));
}

TEST(DtcSession, ReleasesThePortNotificationWhenGone) {
  FakeSerialPort port;
  {
    DtcSession session(port);
    ASSERT_EQ(session.open(), std::nullopt);
  }
  port.receive("late");  // must not reach the destroyed session
  EXPECT_EQ(port.readAll(), QByteArray("late"));
}

}  // namespace
}  // namespace tarvex
