#include "ui/failure_text.h"

#include <QCoreApplication>

namespace tarvex {
namespace {

QString tr(const char* text) {
  return QCoreApplication::translate("Failure", text);
}

// A leading capital for a text that starts a sentence.
QString sentence(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace

WordHelp adapterWordHelp(AdapterWord word) {
  switch (word) {
    case AdapterWord::kUnknownCommand:
      return {tr("this adapter does not know the command"),
              tr("Many clones lack commands; Tarvex does without the ones it can.")};
    case AdapterWord::kNoData:
      return {tr("the adapter asked the car and no controller answered"),
              tr("The car may not offer this, or the ignition is off.")};
    case AdapterWord::kUnableToConnect:
      return {tr("the adapter found no car on any protocol it speaks"),
              tr("Switch the ignition on. If it is on, the car speaks a protocol this adapter cannot.")};
    case AdapterWord::kBusInitError:
      return {tr("the wake-up of the car's K-line failed"),
              tr("Switch the ignition on and try again; check that the adapter sits firmly in the socket.")};
    case AdapterWord::kBusBusy:
      return {tr("the bus was too busy for the adapter to send"), tr("Try again in a moment.")};
    case AdapterWord::kBusError:
      return {tr("the adapter saw a fault on the bus"),
              tr("Check the adapter sits firmly in the socket; the wiring may be at fault.")};
    case AdapterWord::kCanError:
      return {tr("the adapter could not talk on the CAN bus: wiring, or a bus speed other than the car's"),
              tr("Check the adapter sits firmly in the socket, and that the ignition is on.")};
    case AdapterWord::kDataError:
      return {tr("the answer arrived damaged (a checksum error)"), tr("Try again.")};
    case AdapterWord::kBufferFull:
      return {tr("the answer outran the line between adapter and computer"),
              tr("Use a faster line speed (File > Adapter..., or --baud).")};
    case AdapterWord::kStopped:
      return {tr("the adapter was interrupted while it worked"),
              tr("It was asked again; if this goes on, another program writes to the port.")};
    case AdapterWord::kFeedbackError:
      return {tr("the adapter's own check of the bus lines failed"),
              tr("Check the adapter sits firmly in the socket; the wiring may be at fault.")};
    case AdapterWord::kFatalCan:
      return {tr("a fatal CAN error; the adapter reset itself"),
              tr("Check the adapter sits firmly in the socket, and try again.")};
    case AdapterWord::kLowVoltageReset:
      return {tr("the adapter's supply dipped (while cranking?) and it reset itself"), tr("Try again.")};
    case AdapterWord::kActivityAlert:
      return {tr("the adapter heard no bus activity and went to sleep"), tr("Switch the ignition on.")};
  }
  return {};
}

QString requestName(const QString& request) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"03", QT_TRANSLATE_NOOP("Failure", "stored trouble codes (03)")},
      {"07", QT_TRANSLATE_NOOP("Failure", "pending trouble codes (07)")},
      {"0A", QT_TRANSLATE_NOOP("Failure", "permanent trouble codes (0A)")},
      {"04", QT_TRANSLATE_NOOP("Failure", "clearing the trouble codes (04)")},
      {"0100", QT_TRANSLATE_NOOP("Failure", "the supported parameters (0100)")},
      {"0101", QT_TRANSLATE_NOOP("Failure", "the MIL and readiness (0101)")},
      {"0902", QT_TRANSLATE_NOOP("Failure", "the VIN (0902)")},
      {"0904", QT_TRANSLATE_NOOP("Failure", "the calibration IDs (0904)")},
      {"020200", QT_TRANSLATE_NOOP("Failure", "the freeze frame's code (020200)")},
      {"ATZ", QT_TRANSLATE_NOOP("Failure", "the adapter's reset (ATZ)")},
      {"ATWS", QT_TRANSLATE_NOOP("Failure", "the adapter's reset (ATWS)")},
  };
  for (const auto& [code, name] : kNames)
    if (request == QLatin1String(code)) return tr(name);
  if (request.startsWith(QLatin1String("02")) && request.size() == 6)
    return tr("the freeze frame (%1)").arg(request);
  if (request.startsWith(QLatin1String("06"))) return tr("the on-board test results (%1)").arg(request);
  return request;
}

QString failureText(const Failure& f) {
  const QString what = f.request.isEmpty() ? QString() : requestName(f.request);
  switch (f.kind) {
    case Failure::Kind::kOpen: {
      QString text = tr("Cannot open %1: %2.").arg(f.subject, f.reason);
      if (f.reason.contains(QLatin1String("ermission")) && f.subject.startsWith(QLatin1String("/dev/")))
        text += QLatin1Char(' ') +
                tr("Serial ports belong to the dialout group: join it with \"sudo adduser $USER dialout\", "
                   "then log out and in again.");
      return text;
    }
    case Failure::Kind::kLost:
      return tr("Lost the adapter on %1: %2.").arg(f.subject, f.reason);
    case Failure::Kind::kCreate:
      return tr("Cannot create %1: %2.").arg(f.subject, f.reason);
    case Failure::Kind::kWrite:
      return tr("Cannot write to %1: %2.").arg(f.subject, f.reason);
    case Failure::Kind::kRead:
      return tr("Cannot read %1: %2.").arg(f.subject, f.reason);
    case Failure::Kind::kSilent: {
      QString text = what.isEmpty() ? tr("No answer from the adapter on %1.").arg(f.subject)
                                    : tr("No answer from the adapter on %1 to %2.").arg(f.subject, what);
      if (f.reason == QLatin1String("garbled"))
        return text + QLatin1Char(' ') +
               tr("What came was unreadable: the adapter may run at another line speed (File > Adapter...).");
      return text + QLatin1Char(' ') + tr("Is it plugged in and powered?");
    }
    case Failure::Kind::kNoAnswer:
      return sentence(tr("%1: no controller answered (NO DATA).").arg(what.isEmpty() ? f.subject : what));
    case Failure::Kind::kAdapter: {
      const std::optional<AdapterWord> word = adapterWord(f.reason);
      QString text = what.isEmpty() ? tr("The adapter on %1 answered \"%2\"").arg(f.subject, f.reason)
                                    : tr("The adapter answered \"%1\" to %2").arg(f.reason, what);
      if (!word) return text + QLatin1Char('.');
      const WordHelp help = adapterWordHelp(*word);
      text += QStringLiteral(": ") + help.meaning + QLatin1Char('.');
      return help.advice.isEmpty() ? text : text + QLatin1Char(' ') + help.advice;
    }
    case Failure::Kind::kRefused:
      return sentence(tr("%1: the car refused it (code %2).").arg(what, f.reason));
    case Failure::Kind::kBroken:
      return sentence(tr("%1: the answer was not whole (%2), so none of it is shown.")
                          .arg(what, f.reason.isEmpty() ? tr("unreadable") : f.reason));
    case Failure::Kind::kInvalid:
      return f.request.isEmpty() ? tr("%1: %2").arg(f.subject, f.reason)
                                 : tr("%1, %2: %3").arg(f.subject, f.request, f.reason);
  }
  return f.reason;
}

}  // namespace tarvex
