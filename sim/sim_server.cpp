#include "sim/sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvex::sim {

bool LineTimes::save(const QString& path) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
  QByteArray text;
  for (const Entry& e : entries_) {
    text += e.kind + (' ' + QByteArray::number(qint64(e.at.count())) + ' ' + QByteArray::number(e.n));
    text += e.prompt ? " >\n" : "\n";
  }
  return file.write(text) == text.size();
}

SimServer::SimServer(SimAdapter& adapter, Clock& clock, LineTimes* times)
    : adapter_(adapter), clock_(clock), times_(times) {
  wake_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  waker_ = new QSocketNotifier(wake_, QSocketNotifier::Read);
  QObject::connect(waker_, &QSocketNotifier::activated, [this] {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto n = ::read(wake_, &expirations, sizeof expirations);
    deliver();
  });
}

SimServer::~SimServer() {
  delete waker_;
  if (wake_ >= 0) ::close(wake_);
}

void SimServer::notice(const char* text) {
  std::fprintf(stderr, "tarvex-sim: %s\n", text);
}

void SimServer::setAddress(const QString& address) {
  address_ = address;
  if (addressObserver_) addressObserver_(address);
}

void SimServer::take(const QByteArray& bytes, bool atOurSpeed) {
  const Micros now = clock_.now();
  if (times_) times_->read(now, bytes.size());
  atOurSpeed ? adapter_.receive(bytes, now) : adapter_.receiveAtWrongSpeed(bytes, now);
  arm();
}

void SimServer::deliver() {
  const Micros now = clock_.now();
  QByteArray out = adapter_.takeOutputDue(now);
  // The client hears them at the speed it is set to as they arrive: an answer to a probe at
  // another speed is garbage, and a later one is text once the client has come to ours.
  if (!out.isEmpty() && !clientAtOurSpeed()) out = SimAdapter::heardAtAnotherSpeed(out);
  if (!out.isEmpty()) {
    send(out);
    if (times_) times_->wrote(clock_.now(), out);
  }
  if (adapter_.goneBy(now)) {
    if (!goneTold_) {
      goneTold_ = true;
      notice("the device vanished");
      deviceGone();
    }
    return;
  }
  if (const auto dropped = adapter_.linkDroppedAt(); dropped && *dropped <= now && dropped != dropTold_) {
    dropTold_ = dropped;
    notice("the adapter dropped its link");
    linkDropped();
  }
  arm();
}

void SimServer::arm() {
  if (adapter_.stalledAt() && !stallTold_) {
    // Hung but present: what the client writes piles up unread.
    stallTold_ = true;
    notice("the device stalled");
    stopReading();
  }
  std::optional<Micros> next = adapter_.nextEventTime();
  const auto dropped = adapter_.linkDroppedAt();
  for (const auto& at : {adapter_.vanishedAt(), dropped != dropTold_ ? dropped : std::nullopt})
    if (at && !goneTold_) next = next ? std::min(*next, *at) : *at;
  itimerspec when{};  // all zero: disarmed
  if (next) {
    const auto us = std::max<std::int64_t>(1, next->count());
    when.it_value = {time_t(us / 1'000'000), long(us % 1'000'000) * 1000};
  }
  ::timerfd_settime(wake_, TFD_TIMER_ABSTIME, &when, nullptr);
}

namespace {

// The terminal's code for a line speed the adapter can run at.
std::optional<speed_t> terminalSpeed(int baud) {
  static const std::pair<int, speed_t> kSpeeds[] = {{9600, B9600},    {19200, B19200},   {38400, B38400},
                                                    {57600, B57600},  {115200, B115200}, {230400, B230400},
                                                    {500000, B500000}};
  for (const auto& [n, code] : kSpeeds)
    if (n == baud) return code;
  return std::nullopt;
}

// The device behind the master side of a pseudo-terminal.
class PtyServer final : public SimServer {
 public:
  PtyServer(SimAdapter& adapter, Clock& clock, std::optional<speed_t> speed, LineTimes* times)
      : SimServer(adapter, clock, times), speed_(speed) {}
  ~PtyServer() override { closeTerminal(); }

  bool openTerminal(QString* error) {
    auto fail = [&](const QString& why) {
      if (error) *error = why;
      closeTerminal();
      return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      return fail(QStringLiteral("no pseudo-terminal"));
    char path[128];
    if (::ptsname_r(master_, path, sizeof path) != 0) return fail(QStringLiteral("no pseudo-terminal name"));
    // Held open here too, so the terminal does not hang up between clients.
    slave_ = ::open(path, O_RDWR | O_NOCTTY);
    if (slave_ < 0) return fail(QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(path)));
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);  // no echo, no line-end translation: the adapter does its own
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    reader_ = new QSocketNotifier(master_, QSocketNotifier::Read);
    QObject::connect(reader_, &QSocketNotifier::activated, [this] { readClient(); });
    setAddress(QString::fromLocal8Bit(path));
    return true;
  }

 private:
  // One bufferful per wake, so that a flood cannot keep the timer from
  // delivering; the notifier wakes again while more is waiting.
  void readClient() {
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) take(QByteArray(buf, qsizetype(n)), clientAtOurSpeed());
  }

  // The client sets its speed on the terminal whose slave side is held open
  // here; it may change it between chunks, as when it probes for the adapter.
  bool clientAtOurSpeed() const override {
    termios tio{};
    if (!speed_ || slave_ < 0 || ::tcgetattr(slave_, &tio) != 0) return true;
    const speed_t in = ::cfgetispeed(&tio);
    return ::cfgetospeed(&tio) == *speed_ && (in == *speed_ || in == B0);  // B0: as the output
  }

  // Nobody reading and the terminal full: the characters are lost, as on a line.
  void send(const QByteArray& out) override {
    if (master_ >= 0) [[maybe_unused]]
      const auto n = ::write(master_, out.constData(), std::size_t(out.size()));
  }

  // The terminal hangs up on its client, as a serial link over Bluetooth that went down; the
  // adapter comes back on a new terminal, as on a new connection.
  void linkDropped() override {
    closeTerminal();
    adapter_.relink();
    QString error;
    if (!openTerminal(&error)) notice("no new pseudo-terminal after the link dropped");
  }

  void deviceGone() override { closeTerminal(); }
  void stopReading() override {
    if (reader_) reader_->setEnabled(false);
  }

  void closeTerminal() {
    delete reader_;
    reader_ = nullptr;
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
  }

  std::optional<speed_t> speed_;
  int master_ = -1;
  int slave_ = -1;
  QSocketNotifier* reader_ = nullptr;
};

// The device behind a TCP port, as a Wi-Fi adapter.
class TcpServer final : public SimServer {
 public:
  TcpServer(SimAdapter& adapter, Clock& clock, LineTimes* times) : SimServer(adapter, clock, times) {}
  ~TcpServer() override {
    hangUp();
    delete acceptor_;
    if (listener_ >= 0) ::close(listener_);
  }

  bool listen(const QString& host, quint16 port, QString* error) {
    auto fail = [&](const QString& why) {
      if (error) *error = why;
      return false;
    };
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr) != 1)
      return fail(QStringLiteral("%1 is no IPv4 address").arg(host));
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return fail(QStringLiteral("no socket"));
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0)
      return fail(QStringLiteral("cannot listen on %1:%2: %3")
                      .arg(host)
                      .arg(port)
                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    acceptor_ = new QSocketNotifier(listener_, QSocketNotifier::Read);
    QObject::connect(acceptor_, &QSocketNotifier::activated, [this] { accept(); });
    setAddress(QStringLiteral("%1:%2").arg(host).arg(ntohs(address.sin_port)));
    return true;
  }

 private:
  void accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (client_ >= 0 && clientLeft()) hangUp();
    if (client_ >= 0 || gone_) {
      ::close(fd);  // one client at a time
      return;
    }
    client_ = fd;
    const int yes = 1;
    ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);  // each character as it goes
    adapter_.relink();
    reader_ = new QSocketNotifier(client_, QSocketNotifier::Read);
    reader_->setEnabled(reading_);
    QObject::connect(reader_, &QSocketNotifier::activated, [this] { readClient(); });
  }

  // A client that closed its end makes room, even before its leaving has been read.
  bool clientLeft() const {
    char c = 0;
    const ssize_t n = ::recv(client_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

  void readClient() {
    char buf[4096];
    const ssize_t n = ::read(client_, buf, sizeof buf);
    if (n > 0) return take(QByteArray(buf, qsizetype(n)), true);
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) hangUp();  // the client left
  }

  void send(const QByteArray& out) override {
    if (client_ < 0) return;  // said to nobody
    if (::send(client_, out.constData(), std::size_t(out.size()), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
      hangUp();
  }

  void linkDropped() override { hangUp(); }  // the adapter stays dropped until the next client
  void deviceGone() override {
    gone_ = true;
    hangUp();
  }
  void stopReading() override {
    reading_ = false;
    if (reader_) reader_->setEnabled(false);
  }

  void hangUp() {
    delete reader_;
    reader_ = nullptr;
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }

  int listener_ = -1;
  int client_ = -1;
  bool reading_ = true;
  bool gone_ = false;
  QSocketNotifier* acceptor_ = nullptr;
  QSocketNotifier* reader_ = nullptr;
};

}  // namespace

std::unique_ptr<SimServer> servePty(SimAdapter& adapter, Clock& clock, std::optional<int> baud,
                                    LineTimes* times, QString* error) {
  std::optional<speed_t> speed;
  if (baud) {
    speed = terminalSpeed(*baud);
    if (!speed) {
      if (error) *error = QStringLiteral("a terminal cannot run at %1 baud").arg(*baud);
      return nullptr;
    }
  }
  auto server = std::make_unique<PtyServer>(adapter, clock, speed, times);
  if (!server->openTerminal(error)) return nullptr;
  return server;
}

std::unique_ptr<SimServer> serveTcp(SimAdapter& adapter, Clock& clock, const QString& host, quint16 port,
                                    LineTimes* times, QString* error) {
  auto server = std::make_unique<TcpServer>(adapter, clock, times);
  if (!server->listen(host, port, error)) return nullptr;
  return server;
}

}  // namespace tarvex::sim
