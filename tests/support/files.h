#pragma once

#include <QFile>

namespace tarvex::testing {

// A whole file in one call: empty when it cannot be read, false when it cannot be written.
inline QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace tarvex::testing
