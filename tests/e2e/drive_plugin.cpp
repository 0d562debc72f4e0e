// Loaded by Qt (QT_QPA_GENERIC_PLUGINS=tarvexdrive:LOGFILE): starts a scan logged to LOGFILE in the
// main window as a user would, and prints every message box's text on a line of its own.
#include <QtGui/qgenericplugin.h>

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

class Driver final : public QObject {
 public:
  explicit Driver(QString logPath) : logPath_(std::move(logPath)) { qApp->installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show) return false;
    if (auto* box = qobject_cast<QMessageBox*>(watched)) {
      std::printf("message: %s\n", qPrintable(box->text()));
      std::fflush(stdout);
    } else if (auto* window = qobject_cast<QWidget*>(watched);
               window && !started_ && window->windowTitle() == QStringLiteral("Tarvex - Mode 22")) {
      started_ = true;
      // As a user would, once the window is up; a control missing ends the program, failing the test.
      QTimer::singleShot(0, window, [this, window] {
        window->findChild<QCheckBox*>(QStringLiteral("cb_log"))->setChecked(true);
        window->findChild<QLineEdit*>(QStringLiteral("tb_logpath"))->setText(logPath_);
        window->findChild<QPushButton*>(QStringLiteral("pb_StartScan"))->click();
      });
    }
    return false;
  }

 private:
  QString logPath_;
  bool started_ = false;
};

}  // namespace

class TarvexDrivePlugin final : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "drive_plugin.json")

 public:
  QObject* create(const QString&, const QString& logPath) override { return new Driver(logPath); }
};

#include "drive_plugin.moc"
