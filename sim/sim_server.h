#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "sim/sim_adapter.h"

class QSocketNotifier;

namespace tarvex::sim {

// When each chunk from the client was read and each chunk went out, on the
// steady clock in microseconds, so that a client's timing can be checked from
// the adapter's end. Kept in memory while serving (a file write could delay a
// delivery) and written out at the end.
class LineTimes {
 public:
  void read(Micros at, qsizetype n) { add({at, n, 'R', false}); }
  void wrote(Micros at, const QByteArray& out) { add({at, out.size(), 'W', out.contains('>')}); }
  // Lines "R|W microseconds characters", with " >" when the prompt went out.
  bool save(const QString& path) const;

 private:
  struct Entry {
    Micros at;
    qsizetype n;
    char kind;
    bool prompt;
  };
  // A bound on the memory a long run can take: a few million chunks.
  static constexpr std::size_t kLimit = 4'000'000;
  void add(const Entry& e) {
    if (entries_.size() < kLimit) entries_.push_back(e);
  }
  std::vector<Entry> entries_;
};

// The simulated adapter served to one client at a time over a real path, on the event loop.
// Woken to the microsecond at the adapter's next event by a timer on the steady clock, which
// `clock` must read (SystemClock does): a millisecond timer would deliver each character up to a
// millisecond late, more than a whole character takes at 38400 baud and above.
class SimServer {
 public:
  virtual ~SimServer();
  // Where a client finds the adapter: a terminal's path, or HOST:PORT.
  QString address() const { return address_; }
  // Told each new address (a terminal that hung up on a dropped link comes back under a new path).
  void setAddressObserver(std::function<void(const QString&)> observer) {
    addressObserver_ = std::move(observer);
  }

 protected:
  SimServer(SimAdapter& adapter, Clock& clock, LineTimes* times);
  // What a client wrote; at another line speed it reaches the adapter as garbage.
  void take(const QByteArray& bytes, bool atOurSpeed);
  void arm();
  void setAddress(const QString& address);
  static void notice(const char* text);

  virtual void send(const QByteArray& out) = 0;  // to the client, if one is there
  virtual bool clientAtOurSpeed() const { return true; }
  virtual void linkDropped() = 0;  // the adapter dropped its link: hang up on the client
  virtual void deviceGone() = 0;   // the device vanished: nothing more is served
  virtual void stopReading() = 0;  // the device hung: what the client writes piles up

  SimAdapter& adapter_;
  Clock& clock_;
  LineTimes* times_;

 private:
  void deliver();

  int wake_ = -1;
  QSocketNotifier* waker_ = nullptr;
  QString address_;
  std::function<void(const QString&)> addressObserver_;
  bool stallTold_ = false;
  bool goneTold_ = false;
  std::optional<Micros> dropTold_;  // the link drop already hung up on
};

// On a pseudo-terminal. `baud`: the only line speed the adapter hears (nullopt: any); a client
// at another one hears its answers as garbage. The terminal starts at 9600.
std::unique_ptr<SimServer> servePty(SimAdapter& adapter, Clock& clock, std::optional<int> baud,
                                    LineTimes* times, QString* error);
// Over TCP, as a Wi-Fi adapter: on `host` (an IPv4 address) and `port` (0: any free one), one
// client at a time; a further one is hung up on at once, and one that leaves makes room.
std::unique_ptr<SimServer> serveTcp(SimAdapter& adapter, Clock& clock, const QString& host, quint16 port,
                                    LineTimes* times, QString* error);

}  // namespace tarvex::sim
