#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "scan/catalogue.h"

namespace tarvex {

// Lamp colours as 0x00BBGGRR.
inline constexpr std::uint32_t kMilOn = 0x0080FF;   // orange
inline constexpr std::uint32_t kMilOff = 0x808080;  // grey

// The main window's value boxes as the scan sees them. A box's text is what
// the log records, and its enabled state is the parameter selection, so the
// window's own controls are the state; tests use plain memory.
class ValueBoxes {
 public:
  virtual ~ValueBoxes() = default;
  virtual QString text(Box box) const = 0;
  virtual void setText(Box box, const QString& text) = 0;
  virtual bool isEnabled(Box box) const = 0;
  virtual void setEnabled(Box box, bool enabled) = 0;
  virtual void setMilColour(std::uint32_t bgr) = 0;
};

class MemoryBoxes final : public ValueBoxes {
 public:
  MemoryBoxes() = default;
  QString text(Box box) const override { return texts_[index(box)]; }
  void setText(Box box, const QString& text) override { texts_[index(box)] = text; }
  bool isEnabled(Box box) const override { return enabled_[index(box)]; }
  void setEnabled(Box box, bool enabled) override { enabled_[index(box)] = enabled; }
  void setMilColour(std::uint32_t) override {}

 private:
  static std::size_t index(Box box) { return static_cast<std::size_t>(box); }
  std::array<QString, kBoxCount> texts_{};
  std::array<bool, kBoxCount> enabled_{};
};

}  // namespace tarvex
