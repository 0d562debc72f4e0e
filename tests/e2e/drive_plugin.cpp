// Loaded by Qt (QT_QPA_GENERIC_PLUGINS=tarvexdrive:LOGFILE): starts a scan logged to LOGFILE in the
// main window as a user would, and prints every message box's text on a line of its own.
#include <QtGui/qgenericplugin.h>

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
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
      QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(window)] { startLoggedScan(target); });
    }
    return false;
  }

 private:
  void startLoggedScan(QWidget* window) {
    auto* log = window ? window->findChild<QCheckBox*>(QStringLiteral("cb_log")) : nullptr;
    auto* path = window ? window->findChild<QLineEdit*>(QStringLiteral("tb_logpath")) : nullptr;
    auto* start = window ? window->findChild<QPushButton*>(QStringLiteral("pb_StartScan")) : nullptr;
    if (!log || !path || !start) {
      std::printf("driver: the main window has no cb_log, tb_logpath or pb_StartScan\n");
    } else {
      log->setChecked(true);
      path->setText(logPath_);
      start->click();
      std::printf("started\n");
    }
    std::fflush(stdout);
  }

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
