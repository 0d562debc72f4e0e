#pragma once

#include <cstdint>

namespace tarvex {

// What the reply decoding needs of the gauge window: whether it is visible,
// and the two needle moves.
class GaugeSink {
 public:
  virtual ~GaugeSink() = default;
  virtual bool gaugesVisible() const = 0;
  virtual void UpdateSpeed(std::int16_t speed) = 0;
  virtual void UpdateTach(std::int16_t rpm) = 0;
};

}  // namespace tarvex
