#include "link/remembered_line.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "link/line_speed.h"
#include "tests/support/drag_ports.h"

namespace tarvex {
namespace {

struct Settings {
  QTemporaryDir dir;
  QSettings settings{dir.filePath(QStringLiteral("tarvex.conf")), QSettings::IniFormat};
  RememberedLine line{settings};
};

TEST(RememberedLine, CommandLineWinsThenWhatAnsweredThenTheDefaults) {
  const std::optional<QString> none;
  // Stored port and speed, the command line's, and the line chosen.
  const std::tuple<const char*, const char*, std::optional<QString>, std::optional<qint32>, const char*,
                   qint32>
      cases[] = {
          {nullptr, nullptr, none, {}, "/dev/ttyS0", 9600},
          {"/dev/ttyUSB0", "38400", none, {}, "/dev/ttyUSB0", 38400},
          {"/dev/ttyUSB0", "38400", QStringLiteral("/dev/ttyUSB0"), {}, "/dev/ttyUSB0", 38400},
          {"/dev/ttyUSB0", "38400", QStringLiteral("/dev/rfcomm0"), {}, "/dev/rfcomm0", 9600},
          {"/dev/ttyUSB0", "38400", none, 115200, "/dev/ttyUSB0", 115200},
          {"/dev/ttyUSB0", "38400", none, kFindBaud, "/dev/ttyUSB0", kFindBaud},
          {"/dev/ttyUSB0", "1234", none, {}, "/dev/ttyUSB0", 9600},  // no speed Tarvex has
          {"/dev/ttyUSB0", "auto", none, {}, "/dev/ttyUSB0", 9600},
          {nullptr, "38400", none, {}, "/dev/ttyS0", 9600},  // a speed without its device
      };
  for (const auto& [storedPort, storedBaud, port, baud, device, expectedBaud] : cases) {
    Settings s;
    if (storedPort) s.settings.setValue(QStringLiteral("port"), QString::fromLatin1(storedPort));
    if (storedBaud) s.settings.setValue(QStringLiteral("baud"), QString::fromLatin1(storedBaud));
    const LineChoice line = chooseLine(port, baud, s.line, QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(std::pair(line.device, line.baud), std::pair(QString::fromLatin1(device), expectedBaud));
  }
}

// Only a clean answer up to the prompt, in any pieces, keeps the device opened and its speed.
TEST(RememberedLine, PortsRememberTheLineOnceTheAdapterGaveACompleteAnswer) {
  // The pieces that come, the factory's speed, and whether the line is remembered.
  const std::tuple<std::vector<QByteArray>, qint32, bool> cases[] = {
      {{"ATZ\r\r\rELM327 v1.5\r\r>"}, 38400, true},
      {{"03\r", "NO DA", "TA\r\r", ">"}, 9600, true},
      {{"43 01 33\r\r>"}, kFindBaud, false},         // the speed is still to be found
      {{"\xfe\x80\x3e"}, 38400, false},              // garbage at a wrong speed
      {{"\xf8", "ok\r>"}, 38400, false},             // garbage before the prompt
      {{"\xf8>", "ELM327 v1.5\r\r>"}, 38400, true},  // the answer after garbage
      {{"ELM327 v1.5\r\r"}, 38400, false},           // no prompt yet
      {{">"}, 38400, false},
  };
  for (const auto& [pieces, baud, remembered] : cases) {
    SCOPED_TRACE(::testing::PrintToString(pieces.front()));
    Settings s;
    s.settings.setValue(QStringLiteral("port"), QStringLiteral("/dev/ttyS0"));
    testing::FakeSerialPort device(QStringLiteral("/dev/ttyUSB1"));
    RememberingPortFactory ports(
        [&](const LineChoice&) {
          auto factory = std::make_unique<testing::ProxyPortFactory>(device);
          factory->speed = baud;
          return factory;
        },
        {QStringLiteral("/dev/ttyUSB1"), baud}, s.line);
    const std::unique_ptr<SerialPort> port = ports.createPort({});
    QByteArray read;
    port->setNotify([&](PortEvent) { read += port->readAll(); });
    ASSERT_TRUE(port->open());
    for (const QByteArray& piece : pieces) device.receive(piece);
    EXPECT_EQ(read, QByteArrayList(pieces.begin(), pieces.end()).join());  // passed on untouched
    EXPECT_EQ(s.line.device(), remembered ? QStringLiteral("/dev/ttyUSB1") : QStringLiteral("/dev/ttyS0"));
    EXPECT_TRUE(!remembered || s.line.baud() == baud) << s.line.baud().value_or(0);
  }
}

}  // namespace
}  // namespace tarvex
