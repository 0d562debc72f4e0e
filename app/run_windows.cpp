// The main window and every window it opens, on the adapter the options name,
// or playing a log back (--replay).
#include <QApplication>
#include <QPointer>
#include <QSettings>
#include <cstdio>

#include "app/main_window.h"
#include "app/preferences.h"
#include "app/program.h"
#include "link/qt_serial_port.h"
#include "ui/failure_text.h"
#include "ui/file_dialog.h"
#include "ui/port_chooser.h"

namespace tarvex {

int runWindows(int& argc, char** argv, const Options& options) {
  QApplication app(argc, argv);
  const std::unique_ptr<QSocketNotifier> quit = onQuitSignal([] {
    QApplication::closeAllWindows();
    QApplication::quit();
  });
  QSettings settings;
  RememberedLine remembered(settings);
  SystemClock clock;
  Result<Adapter> adapter = makeAdapter(options, clock, remembered);
  if (!adapter) {
    std::fprintf(stderr, "tarvex: %s\n", qPrintable(adapter.failure().reason));
    return 2;
  }
  QtFileDialog fileDialog;
  QtPortChooser portChooser([] {
    QStringList busy;
    for (const SerialDeviceInfo& d : serialDevices())
      if (d.busy) busy << d.device;
    return busy;
  });
  WindowRegistry windows(*adapter.value().ports, clock, fileDialog, {}, &portChooser);
  // What the user chose before, then what the command line says (kept too).
  Preferences preferences(settings);
  windows.usePreferences(preferences);
  if (options.units) windows.setUnits(*options.units);
  if (options.parameters) {
    for (const QString& line : options.parameters->leftOut)
      std::fprintf(stderr, "tarvex: left out %s\n", qPrintable(line));
    windows.setOwnParameters(options.parameters->kept, options.parameters->parameters);
  }
  QPointer<Tarvex> mainWindow = new Tarvex(windows);
  mainWindow->setAttribute(Qt::WA_DeleteOnClose);
  if (options.replay) {
    if (const Status opened = mainWindow->openReplay(*options.replay); !opened) {
      std::fprintf(stderr, "tarvex: %s\n", qPrintable(failureText(opened.failure())));
      delete mainWindow.data();
      return 2;
    }
  }
  mainWindow->show();
  const int status = QApplication::exec();
  // A closed window's deletion may still be pending when the loop ends; its
  // port and log are closed on the way out all the same.
  delete mainWindow.data();
  return status;
}

}  // namespace tarvex
