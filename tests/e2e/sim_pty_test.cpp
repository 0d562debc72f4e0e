#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "link/qt_serial_port.h"

namespace tarvex {
namespace {

// Collects what the port receives until the prompt comes (or a generous limit passes).
QByteArray exchange(QtSerialPort& port, const QByteArray& line) {
  QByteArray got;
  port.setNotify([&](int kind) {
    if (kind == kCommEventReceive) got += port.readAll();
  });
  port.write(line + "\r\n");
  for (QDeadlineTimer limit(10'000); !got.endsWith('>') && !limit.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  port.setNotify(nullptr);
  return got;
}

// tarvex-sim started as a user would: it prints the pseudo-terminal's path first.
TEST(SimPty, AnswersOverARealSerialPath) {
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("commands.txt"));
  QProcess server;
  server.start(QStringLiteral(TARVEX_SIM_PATH),
               {QStringLiteral("--reset-ms"), QStringLiteral("50"), QStringLiteral("--log"), log});
  for (QDeadlineTimer limit(10'000); !server.canReadLine() && !limit.hasExpired();)
    server.waitForReadyRead(100);
  const QString path = QString::fromLocal8Bit(server.readLine()).trimmed();
  ASSERT_TRUE(path.startsWith(QStringLiteral("/dev/"))) << path.toStdString();

  QtSerialPort port(path, true);
  ASSERT_TRUE(port.open()) << port.errorString().toStdString();
  EXPECT_EQ(exchange(port, "ATZ"), "ATZ\r\r\rELM327 v1.5\r\r>");
  exchange(port, "ATSH 6C 10 F1");
  EXPECT_TRUE(exchange(port, "22000C01").startsWith("22000C01\r62 00 0C "));
  EXPECT_EQ(exchange(port, "03"), "03\r43 01 71 03 00 00 00 \r\r>");

  QFile file(log);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "ATZ\nATSH 6C 10 F1\n22000C01\n03\n");
  server.terminate();
  server.waitForFinished(5000);
}

}  // namespace
}  // namespace tarvex
