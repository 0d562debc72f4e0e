#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace tarvex {

// The save-file dialog as the main window uses it. Tests substitute a script.
class FileDialog {
 public:
  virtual ~FileDialog() = default;
  // Shows the dialog for choosing a file to write. The filter is given as
  // description|pattern pairs ("Text (*.csv)|*.csv"). Nothing when cancelled.
  virtual std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                                                const QString& defaultExtension,
                                                const QString& initialName) = 0;
  // Shows the dialog for choosing an existing file to read. Nothing when
  // cancelled (and from a dialog that cannot open files).
  virtual std::optional<QString> chooseOpenFile(QWidget*, const QString& /*title*/,
                                                const QString& /*filter*/) {
    return std::nullopt;
  }
};

// The platform's dialog through QFileDialog.
class QtFileDialog final : public FileDialog {
 public:
  std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                                        const QString& defaultExtension, const QString& initialName) override;
  std::optional<QString> chooseOpenFile(QWidget* parent, const QString& title,
                                        const QString& filter) override;
};

// "Text (*.csv)|*.csv" in the toolkit's form: "Text (*.csv)".
QString toQtFilter(const QString& pairs);

}  // namespace tarvex
