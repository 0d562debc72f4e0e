#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "app/main_window.h"
#include "link/qt_serial_port.h"
#include "sim/sim_adapter.h"
#include "sim/sim_port.h"
#include "sim/vehicle.h"
#include "ui/file_dialog.h"
#include "ui/port_chooser.h"

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("tarvex"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.5"));

  // The options are read before the window system is touched, so --help
  // works without a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Tarvex: scans the enhanced parameters of a GM engine controller through an ELM327 adapter."));
  const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Displays help on command line options."));
  parser.addOption(helpOption);
  const QCommandLineOption portOption(
      QStringLiteral("port"),
      QStringLiteral("Serial device of the adapter (default: %1).").arg(tarvex::defaultPortName()),
      QStringLiteral("DEVICE"), tarvex::defaultPortName());
  const QCommandLineOption demoOption(
      QStringLiteral("demo"),
      QStringLiteral("Use the built-in simulated adapter and car instead of a device."));
  parser.addOption(portOption);
  parser.addOption(demoOption);
  const QString help =
      parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tarvex"));
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "%s\n\n%s", qPrintable(parser.errorText()), qPrintable(help));
    return 2;
  }
  if (parser.isSet(helpOption)) {
    std::fputs(qPrintable(help), stdout);
    return 0;
  }
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "Unexpected argument: %s\n\n%s", qPrintable(parser.positionalArguments().first()),
                 qPrintable(help));
    return 2;
  }

  QApplication app(argc, argv);

  tarvex::SystemClock clock;
  std::unique_ptr<tarvex::sim::Vehicle> vehicle;
  std::unique_ptr<tarvex::sim::SimAdapter> adapter;
  std::unique_ptr<tarvex::PortFactory> ports;
  if (parser.isSet(demoOption)) {
    vehicle = std::make_unique<tarvex::sim::Vehicle>();
    adapter = std::make_unique<tarvex::sim::SimAdapter>(*vehicle, clock.now());
    ports = std::make_unique<tarvex::sim::SimPortFactory>(clock, *adapter);
  } else {
    ports = std::make_unique<tarvex::QtPortFactory>(parser.value(portOption));
  }

  tarvex::QtFileDialog fileDialog;
  tarvex::QtPortChooser portChooser;
  tarvex::WindowRegistry windows(*ports, clock, fileDialog, {}, &portChooser);
  auto* mainWindow = new tarvex::Tarvex(windows);
  mainWindow->setAttribute(Qt::WA_DeleteOnClose);
  mainWindow->show();
  return app.exec();
}
