// Real sockets and pseudo-terminals: waits end when what is awaited arrives; the deadline guards a hang.
#include "sim/sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "tests/support/sim_rig.h"

namespace tarvex {
namespace {

struct Served {
  explicit Served(const char* profile)
      : adapter(vehicle, clock.now(),
                testing::SimRig::instant(Millis{0}, testing::SimRig::profile(profile))) {}
  SystemClock clock;
  sim::Vehicle vehicle;
  sim::SimAdapter adapter;
};

// The event loop runs while we wait, so the server in this process does its part.
struct Heard {
  QByteArray text;
  bool hungUp = false;
};
Heard hear(int fd, const std::function<bool(const QByteArray&)>& done) {
  Heard heard;
  const QDeadlineTimer deadline(10'000);
  while (!done(heard.text) && !deadline.hasExpired()) {
    QCoreApplication::processEvents();
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      heard.text.append(buf, qsizetype(n));
    } else if (n == 0 || errno != EAGAIN) {
      heard.hungUp = true;
      break;
    }
  }
  return heard;
}
const auto prompted = [](const QByteArray& text) { return text.endsWith('>'); };
const auto never = [](const QByteArray&) { return false; };

int connectTo(const QString& address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(quint16(address.section(u':', 1).toUInt()));
  ::inet_pton(AF_INET, address.section(u':', 0, 0).toLatin1().constData(), &to.sin_addr);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0) << address.toStdString();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

QByteArray ask(int fd, const QByteArray& line) {
  EXPECT_EQ(::write(fd, line.constData(), std::size_t(line.size())), line.size());
  return hear(fd, prompted).text;
}

TEST(SimServer, TcpServesOneClientAtATime) {
  Served s("clone");
  QString error;
  const auto server = sim::serveTcp(s.adapter, s.clock, QStringLiteral("127.0.0.1"), 0, nullptr, &error);
  ASSERT_TRUE(server) << error.toStdString();
  ASSERT_TRUE(server->address().startsWith(u"127.0.0.1:")) << server->address().toStdString();
  const int first = connectTo(server->address());
  EXPECT_EQ(ask(first, "ATI\r"), "ATI\rELM327 v1.5\r\r>");
  const int second = connectTo(server->address());
  EXPECT_EQ(hear(second, never).hungUp, true);
  ::close(second);
  ::close(first);
  const int third = connectTo(server->address());
  EXPECT_EQ(ask(third, "ATI\r"), "ATI\rELM327 v1.5\r\r>");
  ::close(third);
}

// A Bluetooth adapter's ATZ drops the link; a terminal comes back under a new path.
TEST(SimServer, DroppedLinkHangsUpAndTheNextConnectionIsServed) {
  Served tcp("bluetooth");
  const auto server = sim::serveTcp(tcp.adapter, tcp.clock, QStringLiteral("127.0.0.1"), 0, nullptr, nullptr);
  ASSERT_TRUE(server);
  const int first = connectTo(server->address());
  ::write(first, "ATZ\r", 4);
  EXPECT_TRUE(hear(first, never).hungUp);
  ::close(first);
  const int again = connectTo(server->address());
  EXPECT_EQ(ask(again, "ATI\r"), "ATI\rELM327 v1.5\r\r>");
  ::close(again);

  Served pty("bluetooth");
  const auto terminal = sim::servePty(pty.adapter, pty.clock, std::nullopt, nullptr, nullptr);
  ASSERT_TRUE(terminal);
  QStringList addresses;
  terminal->setAddressObserver([&](const QString& address) { addresses << address; });
  const QString before = terminal->address();
  const int fd = ::open(before.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ::write(fd, "ATZ\r", 4);
  EXPECT_TRUE(hear(fd, never).hungUp);
  ::close(fd);
  ASSERT_EQ(addresses.size(), 1);
  EXPECT_NE(addresses[0], before);
  const int next = ::open(addresses[0].toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(next, 0);
  EXPECT_EQ(ask(next, "ATI\r"), "ATI\rELM327 v1.5\r\r>");
  ::close(next);
}

TEST(SimServer, TerminalClientAtAnotherSpeedHearsGarbage) {
  Served s("clone");
  const auto server = sim::servePty(s.adapter, s.clock, 38400, nullptr, nullptr);
  ASSERT_TRUE(server);
  const int fd = ::open(server->address().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const std::pair<speed_t, bool> cases[] = {{B9600, false}, {B115200, false}, {B38400, true}};
  for (const auto& [speed, plain] : cases) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, speed);
    ::tcsetattr(fd, TCSANOW, &tio);
    ::write(fd, "ATI\r", 4);
    // Garbled: the echo, "?" and the prompt.
    const QByteArray heard = hear(fd, [&](const QByteArray& t) { return t.size() >= (plain ? 18 : 8); }).text;
    if (plain) {
      EXPECT_EQ(heard, "ATI\rELM327 v1.5\r\r>");
    } else {
      EXPECT_EQ(heard.size(), 8);
      EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](char c) { return std::uint8_t(c) >= 0x80; }))
          << heard.toHex().toStdString();
    }
  }
  ::close(fd);
}

}  // namespace
}  // namespace tarvex
