#include "link/adapter_probe.h"

namespace tarvex {

AdapterProbe::AdapterProbe(SerialPort& port, Timer& replyTimer, Clock& clock, AdapterTraits& traits)
    : session_(port, replyTimer, clock, traits) {
  session_.setFailureHandler([this](const Failure& failure) { finish(failure); });
}

Status AdapterProbe::start(std::function<void(const Result<AdapterIdentity>&)> done) {
  done_ = std::move(done);
  identity_ = {};
  return session_.start({{resetCommandFor(session_.port().deviceName())}, {QStringLiteral("ATE1")}},
                        [this](const Status& setUp) {
                          if (!setUp) return finish(setUp.failure());
                          ask(QStringLiteral("ATI"), &AdapterIdentity::version, true);
                        });
}

void AdapterProbe::ask(const QString& command, QString AdapterIdentity::*into, bool needed) {
  const bool banner = command == QLatin1String("ATI");
  session_.send(Request{command, 0, kSettingPatience, 1, std::nullopt, banner},
                [this, command, into, needed](const Result<Reply>& reply) {
                  if (reply) {
                    identity_.*into = reply->lines.join(QLatin1Char(' '));
                  } else if (needed || portFailed(reply.failure())) {
                    return finish(reply.failure());
                  }
                  if (command == QLatin1String("ATI"))
                    return ask(QStringLiteral("AT@1"), &AdapterIdentity::description, false);
                  if (command == QLatin1String("AT@1"))
                    return ask(QStringLiteral("ATRV"), &AdapterIdentity::voltage, false);
                  finish(identity_);
                });
}

void AdapterProbe::finish(const Result<AdapterIdentity>& result) {
  session_.stop();
  if (auto done = std::exchange(done_, nullptr)) done(result);
}

}  // namespace tarvex
