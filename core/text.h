#pragma once

#include <QString>
#include <string_view>

namespace tarvex {

// Fixed texts live in the program as std::string_view (tables, layouts);
// widgets and the port want QString.
inline QString toQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tarvex
