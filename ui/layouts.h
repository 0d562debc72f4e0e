#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarvex {

// Window layouts as data: what every control of the four windows looks like
// when its window is built. Positions and sizes are in twips (15 to a pixel at
// 96 dpi) from the top left of the client area.
inline constexpr int kTwipsPerPixel = 15;
constexpr int twipsToPixels(int twips) {
  return twips / kTwipsPerPixel;
}

struct Rgb {
  std::uint8_t red = 0, green = 0, blue = 0;
  constexpr bool operator==(const Rgb&) const = default;
};

enum class ControlKind { kLabel, kTextBox, kButton, kCheckBox, kFilledSquare, kPicture };

// The settings that differ from the toolkit's defaults.
struct ControlStyle {
  bool enabled = true;
  bool visible = true;
  std::string_view fontFamily = {};
  double fontPoints = 0;
  bool bold = false;
  bool transparent = false;
  std::optional<Rgb> fill = std::nullopt;
};

struct ControlSpec {
  std::string_view name;
  ControlKind kind;
  std::string_view text;  // caption or initial text
  std::string_view toolTip;
  int left, top, width, height;
  int tab;  // keyboard focus order; -1 where the control has none
  ControlStyle style = {};
};

struct LineSpec {
  std::string_view name;
  Rgb colour;
  int width;
  int x1, y1, x2, y2;
};

enum class Placement { kSystem, kTopLeft };

struct WindowSpec {
  std::string_view name;
  std::string_view caption;
  int width, height;  // client area, twips
  Placement placement;
  std::optional<Rgb> background;
  std::string_view firstFocus;  // empty: none
  std::span<const ControlSpec> controls;
  std::span<const LineSpec> lines;

  const ControlSpec* control(std::string_view controlName) const;
  const LineSpec* line(std::string_view lineName) const;
};

// The layouts name Windows fonts. Each is drawn with a free font that Debian
// ships (the package depends on these packages), at a size that keeps every
// caption inside its box; a family that fontconfig had to guess for could be
// a monospaced one, too wide for the boxes.
struct FontSubstitute {
  std::string_view requested;
  std::string_view installed;
  double scale;  // of the layout's point size
  std::string_view debianPackage;
};
std::span<const FontSubstitute> fontSubstitutes();
// What to ask for in place of `requested`: its substitute, or itself (at its
// own size) when it has none.
std::string_view installedFontFamily(std::string_view requested);
double installedFontPoints(std::string_view requested, double points);

// The windows' own font, for every control that names none.
inline constexpr std::string_view kDialogFontFamily = "MS Sans Serif";
inline constexpr double kDialogFontPoints = 8;

const WindowSpec& tarvexLayout();
const WindowSpec& dtcReaderLayout();
const WindowSpec& dragstripLayout();
const WindowSpec& gaugesLayout();

}  // namespace tarvex
