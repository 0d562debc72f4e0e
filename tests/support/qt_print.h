#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable QString and QByteArray values in test failure messages (line ends shown escaped).
inline void PrintTo(const QString& text, std::ostream* os) {
  QString shown = text;
  shown.replace(QLatin1Char('\r'), QStringLiteral("\\r")).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  *os << '"' << shown.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
  PrintTo(QString::fromLatin1(bytes), os);
}
