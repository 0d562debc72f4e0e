#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "core/units.h"
#include "link/serial_port.h"
#include "report/car_report.h"
#include "ui/file_dialog.h"
#include "ui/message.h"
#include "ui/port_chooser.h"
#include "ui/port_window.h"

class QLabel;
class QPushButton;
class QTextBrowser;

namespace tarvex {

// "Report": reads the car for the report when it opens, saves it to the file
// it was given (HTML, or PDF when the name ends in .pdf), and shows it as it
// reads on paper. "Save as..." saves the shown report again elsewhere; "Read
// again" reads the car anew and saves over the file. It holds the port while
// it is open; a closed window deletes itself.
class ReportWindow : public QWidget {
  Q_OBJECT
 public:
  ReportWindow(PortFactory& ports, Clock& clock, FileDialog& files, QString path, Reporter reporter = {},
               PortChooser* chooser = nullptr, UnitChoice units = {}, QWidget* parent = nullptr);
  ~ReportWindow() override;

  // Reads the car again and saves to `path`.
  void saveTo(const QString& path);
  const QString& path() const { return path_; }
  ReportReader& reader() { return *reader_; }

  QLabel* statusLabel() const { return status_; }
  QTextBrowser* view() const { return view_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* saveAsButton() const { return saveAs_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void read();
  void done(const CarReport& report);
  void save(const QString& path);
  void busy(bool on);

  PortWindow port_;
  FileDialog& files_;
  QString path_;
  UnitChoice units_;
  std::unique_ptr<ReportReader> reader_;
  QString html_;
  QLabel* status_;
  QTextBrowser* view_;
  QPushButton* read_;
  QPushButton* saveAs_;
};

}  // namespace tarvex
