#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

namespace tarvex::testing {

// The rows of a table in tests/data: a row a line, its fields split at '|',
// "\r" for a carriage return; lines starting with '#' and blank ones left out.
inline QList<QStringList> dataRows(const char* name) {
  QFile file(QStringLiteral(TARVEX_TEST_DATA "/") + QLatin1String(name));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
  QList<QStringList> rows;
  for (QString line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
    if (!line.startsWith(u'#')) rows << line.replace(QStringLiteral("\\r"), QStringLiteral("\r")).split(u'|');
  EXPECT_FALSE(rows.isEmpty()) << name;
  return rows;
}

}  // namespace tarvex::testing
