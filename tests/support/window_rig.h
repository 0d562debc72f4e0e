#pragma once

#include <QStringList>
#include <optional>

#include "tests/support/drag_ports.h"
#include "tests/support/fake_clock.h"
#include "tests/support/files.h"
#include "ui/file_dialog.h"
#include "ui/message.h"

namespace tarvex::testing {

// Keeps each save question as "title;filter;extension;initial name"; no answer left: cancelled.
struct ScriptedFiles final : FileDialog {
  std::optional<QString> chooseSaveFile(QWidget*, const QString& title, const QString& filter,
                                        const QString& extension, const QString& initialName) override {
    asked << QStringList{title, filter, extension, initialName}.join(u';');
    return answers.isEmpty() ? std::nullopt : answers.takeFirst();
  }
  std::optional<QString> chooseOpenFile(QWidget*, const QString&, const QString&) override { return toOpen; }
  QStringList asked;
  QList<std::optional<QString>> answers;
  std::optional<QString> toOpen;
};

// A window's scripted device, fake time, file dialogs, and what it told the user.
struct WindowRig {
  // The last line written echoed, then `answer` and the prompt.
  void reply(const QByteArray& answer) {
    device.receive(device.writes().value(device.writes().size() - 1).chopped(1) + '\r' + answer + "\r\r>");
  }
  FakeClock clock;
  FakeSerialPort device{QStringLiteral("/dev/ttyUSB0")};
  ProxyPortFactory ports{device};
  ScriptedFiles files;
  QStringList told;
  Reporter reporter = [this](QWidget*, Urgency urgency, const Message& m) {
    told << (urgency == Urgency::kNotice ? QStringLiteral("notice: ") : QString()) + m.text;
  };
};

}  // namespace tarvex::testing
