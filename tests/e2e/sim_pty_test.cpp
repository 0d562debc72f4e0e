#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "link/qt_serial_port.h"

namespace tarvex {
namespace {

// tarvex-sim started as a user would: the pseudo-terminal path comes first.
class SimServer {
 public:
  explicit SimServer(const QStringList& args) {
    process_.start(QStringLiteral(TARVEX_SIM_PATH), args);
    if (!process_.waitForStarted(10'000)) return;
    QDeadlineTimer deadline(10'000);
    while (!process_.canReadLine() && !deadline.hasExpired()) process_.waitForReadyRead(100);
    path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
  }
  ~SimServer() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
  }
  QString path() const { return path_; }

 private:
  QProcess process_;
  QString path_;
};

// Collects what the port receives until the prompt comes (or a generous limit passes).
QByteArray exchange(QtSerialPort& port, const QByteArray& line) {
  QByteArray got;
  port.setNotify([&](int kind) {
    if (kind == kCommEventReceive) got += port.readAll();
  });
  port.write(line + "\r\n");
  QDeadlineTimer deadline(10'000);
  while (!got.endsWith('>') && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  port.setNotify(nullptr);
  return got;
}

TEST(SimPty, AnswersOverARealSerialPath) {
  QTemporaryDir dir;
  const QString logPath = dir.filePath(QStringLiteral("commands.txt"));
  SimServer server({QStringLiteral("--reset-ms"), QStringLiteral("50"), QStringLiteral("--log"), logPath});
  ASSERT_TRUE(server.path().startsWith(QStringLiteral("/dev/"))) << server.path().toStdString();

  QtSerialPort port(server.path(), true);
  ASSERT_TRUE(port.open()) << port.errorString().toStdString();
  EXPECT_EQ(exchange(port, "ATZ"), QByteArray("ATZ\r\r\rELM327 v1.5\r\r>"));
  EXPECT_EQ(exchange(port, "ATI"), QByteArray("ATI\rELM327 v1.5\r\r>"));
  exchange(port, "ATSH 6C 10 F1");
  const QByteArray rpm = exchange(port, "22000C01");
  EXPECT_TRUE(rpm.startsWith("22000C01\r62 00 0C ")) << rpm.constData();
  port.close();

  // A second client finds the device again.
  QtSerialPort again(server.path(), false);
  ASSERT_TRUE(again.open()) << again.errorString().toStdString();
  EXPECT_EQ(exchange(again, "03"), QByteArray("03\r43 01 71 03 00 00 00 \r\r>"));

  QFile log(logPath);
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_EQ(log.readAll(), QByteArray("ATZ\nATI\nATSH 6C 10 F1\n22000C01\n03\n"));
}

}  // namespace
}  // namespace tarvex
