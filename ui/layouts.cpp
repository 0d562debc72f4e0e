#include "ui/layouts.h"

namespace tarvex {

namespace {

// clang-format off
const ControlSpec kTarvexControls[] = {
    {"Label2", ControlKind::kLabel, "OBD II", "", 120, 120, 1695, 495, 44, {.fontFamily = "Tw Cen MT", .fontPoints = 26.25}},
    {"Label1", ControlKind::kLabel, "Log to file name:", "", 2280, 120, 1215, 255, 43},
    {"tb_logpath", ControlKind::kTextBox, "c:\\testlog.csv", "", 3480, 120, 2055, 285, 41},
    {"pb_changedir", ControlKind::kButton, "...", "Select logfile", 5640, 120, 375, 255, 47, {.fontFamily = "MS Sans Serif", .fontPoints = 12, .bold = true}},
    {"MIL", ControlKind::kFilledSquare, "", "", 6120, 120, 495, 495, -1, {.fill = Rgb{128, 128, 128}}},
    {"Label14", ControlKind::kLabel, "MIL", "", 6240, 240, 375, 255, 31, {.transparent = true}},
    {"Version", ControlKind::kLabel, "V1.5", "", 1680, 480, 615, 255, 46},
    {"Text1", ControlKind::kTextBox, "Text1", "", 2520, 480, 150, 285, 2, {.visible = false}},
    {"RxText", ControlKind::kTextBox, "Text2", "", 2760, 480, 150, 285, 1, {.visible = false}},
    {"TxText", ControlKind::kTextBox, "Text1", "", 3000, 480, 150, 285, 0, {.visible = false}},
    {"cb_log", ControlKind::kCheckBox, "Log to file", "", 3480, 480, 2055, 255, 42},
    {"RPM", ControlKind::kTextBox, "RPM", "", 120, 960, 735, 285, 5},
    {"tb_RPM", ControlKind::kLabel, "RPM", "Engine RPM", 960, 960, 495, 255, 11},
    {"Speed", ControlKind::kTextBox, "Speed", "", 1680, 960, 735, 285, 7},
    {"tb_speed", ControlKind::kLabel, "Km/h", "Vehicle Speed", 2520, 960, 495, 255, 14},
    {"IAT", ControlKind::kTextBox, "IAT", "", 3240, 960, 735, 285, 6},
    {"tb_IAT", ControlKind::kLabel, "C", "Intake Air Temperature", 4080, 960, 495, 255, 12},
    {"ERT", ControlKind::kTextBox, "Runtime", "", 4800, 960, 735, 285, 25},
    {"tb_ert", ControlKind::kLabel, "ERT", "Engine Runtime", 5640, 960, 975, 255, 26},
    {"MAF", ControlKind::kTextBox, "MAF", "", 120, 1320, 735, 285, 9},
    {"tb_maf", ControlKind::kLabel, "g/s", "Mass Air Flow", 960, 1320, 495, 255, 13},
    {"LOAD", ControlKind::kTextBox, "LOAD", "", 1680, 1320, 735, 285, 10},
    {"tb_load", ControlKind::kLabel, "LOAD%", "", 2520, 1320, 615, 255, 16},
    {"TPS", ControlKind::kTextBox, "TPS", "", 3240, 1320, 735, 285, 8},
    {"tb_tps", ControlKind::kLabel, "TPS%", "Throttle Position Sensor Absolute Position", 4080, 1320, 495, 255, 15},
    {"MAP", ControlKind::kTextBox, "MAP", "", 4800, 1320, 735, 285, 27},
    {"tb_map", ControlKind::kLabel, "MAP KPa", "Manafold Absolute Pressure", 5640, 1320, 855, 255, 28},
    {"Timing", ControlKind::kTextBox, "Timing", "", 120, 1680, 735, 285, 17},
    {"tb_timing", ControlKind::kLabel, "Deg", "Timing", 960, 1680, 375, 255, 18},
    {"Coolant", ControlKind::kTextBox, "Coolant", "", 1680, 1680, 735, 285, 19},
    {"tb_coolant", ControlKind::kLabel, "Cool C", "Coolant Temperature", 2520, 1680, 615, 255, 20},
    {"KR", ControlKind::kTextBox, "Knock Retard", "", 3240, 1680, 735, 285, 29, {.enabled = false}},
    {"tb_kr", ControlKind::kLabel, "KR Deg", "Knock Timing Retard", 4080, 1680, 735, 255, 30},
    {"DTC", ControlKind::kTextBox, "DTC", "", 4800, 1680, 735, 285, 32},
    {"tb_DTC", ControlKind::kLabel, "DTC Count", "Diagnostic Trouble Code Count", 5640, 1680, 975, 255, 33},
    {"STFTB1", ControlKind::kTextBox, "STFTB1", "", 120, 2040, 735, 285, 21},
    {"tb_STFTB1", ControlKind::kLabel, "STFTB1", "Short Term Fuel Trim Bank 1", 960, 2040, 615, 255, 22},
    {"STFTB2", ControlKind::kTextBox, "STFTB2", "", 1680, 2040, 735, 285, 65},
    {"tb_STFTB2", ControlKind::kLabel, "STFTB2", "", 2520, 2040, 735, 255, 67},
    {"Gear", ControlKind::kTextBox, "Gear", "", 3240, 2040, 735, 285, 35, {.enabled = false}},
    {"tb_Gear", ControlKind::kLabel, "Gear", "Current Gear", 4080, 2040, 495, 255, 36},
    {"Volts", ControlKind::kTextBox, "Volts", "", 4800, 2040, 735, 285, 37},
    {"tb_volts", ControlKind::kLabel, "Ign V", "Ingition Battery Voltage", 5640, 2040, 855, 255, 38},
    {"LTFTB1", ControlKind::kTextBox, "LTFTB1", "", 120, 2400, 735, 285, 23},
    {"tb_ltftb1", ControlKind::kLabel, "LTFTB1", "Long Term Fuel Trim Bank 1", 960, 2400, 615, 255, 24},
    {"LTFTB2", ControlKind::kTextBox, "LTFTB2", "", 1680, 2400, 735, 285, 66},
    {"tb_LTFTB2", ControlKind::kLabel, "LTFTB2", "", 2520, 2400, 615, 255, 68},
    {"AirFuel", ControlKind::kTextBox, "AFR", "", 3240, 2400, 735, 285, 39, {.enabled = false}},
    {"tb_airfuel", ControlKind::kLabel, "A/F R", "Air Fuel Ratio", 4080, 2400, 495, 255, 40},
    {"label_o2", ControlKind::kLabel, "O2 Sensor Voltages", "", 2670, 2760, 1455, 255, 48},
    {"O2B1S1", ControlKind::kTextBox, "O2B1S1", "", 120, 3120, 735, 285, 49},
    {"tb_O2B1S1", ControlKind::kLabel, "B1S1 V", "", 960, 3120, 615, 255, 53},
    {"O2B1S2", ControlKind::kTextBox, "O2B1S2", "", 1680, 3120, 735, 285, 50, {.enabled = false}},
    {"tb_O2B1S2", ControlKind::kLabel, "B1S2 V", "", 2520, 3120, 615, 255, 54},
    {"O2B2S1", ControlKind::kTextBox, "O2B2S1", "", 3240, 3120, 735, 285, 51},
    {"tb_O2B2S1", ControlKind::kLabel, "B2S1 V", "", 4080, 3120, 615, 255, 55},
    {"O2B2S2", ControlKind::kTextBox, "O2B2S2", "", 4800, 3120, 735, 285, 52, {.enabled = false}},
    {"tb_o2b2s2", ControlKind::kLabel, "B2S2 V", "", 5640, 3120, 615, 255, 56},
    {"O2B1S1T", ControlKind::kTextBox, "O2B1S1T", "", 120, 3480, 735, 285, 72},
    {"tb_O2B1S1T", ControlKind::kLabel, "Trim %", "", 960, 3480, 615, 255, 76},
    {"O2B1S2T", ControlKind::kTextBox, "O2B1S2T", "", 1680, 3480, 735, 285, 73},
    {"tb_O2B1S2T", ControlKind::kLabel, "Trim %", "", 2520, 3480, 615, 255, 77},
    {"O2B2S1T", ControlKind::kTextBox, "O2B2S1T", "", 3240, 3480, 735, 285, 74},
    {"tb_O2B2S1T", ControlKind::kLabel, "Trim %", "", 4080, 3480, 495, 255, 78},
    {"O2B2S2T", ControlKind::kTextBox, "O2B2S2T", "", 4800, 3480, 735, 285, 75},
    {"tb_O2B2S2T", ControlKind::kLabel, "Trim %", "", 5640, 3480, 615, 255, 79},
    {"FuelSysStatus", ControlKind::kTextBox, "Fuel System Status B1", "", 120, 3840, 1935, 285, 57},
    {"tb_FuelSystemStatus", ControlKind::kLabel, "Fuel Status B1", "", 2160, 3840, 1095, 255, 58},
    {"FuelSysStatusB2", ControlKind::kTextBox, "Fuel System Status B2", "", 3360, 3840, 1935, 285, 70},
    {"tb_FuelSysStatusB2", ControlKind::kLabel, "Fuel Status B2", "", 5400, 3840, 1215, 255, 71},
    {"Label3", ControlKind::kLabel, "Exhaust Gas Recirculation System", "", 2130, 4200, 2535, 255, 69},
    {"EGRDP", ControlKind::kTextBox, "EGRDP", "", 120, 4560, 735, 285, 59},
    {"tb_EGRDP", ControlKind::kLabel, "EGRD%", "Exhaust Gas Recirculation Desired Position", 960, 4560, 615, 255, 62},
    {"EGRAP", ControlKind::kTextBox, "EGRAP", "", 1680, 4560, 735, 285, 60},
    {"tb_EGRAP", ControlKind::kLabel, "EGRA%", "Exhaust Gas Recirculation Actual Percentage", 2520, 4560, 735, 255, 63},
    {"EGRDC", ControlKind::kTextBox, "EGRDC", "", 3240, 4560, 735, 285, 61},
    {"tb_EGRDC", ControlKind::kLabel, "EGRDC %", "Exhaust Gas Recirculation Duty Cycle", 4080, 4560, 735, 255, 64},
    {"pb_StartScan", ControlKind::kButton, "Start Scan", "Start Scanning Cycle", 120, 4920, 1215, 495, 3},
    {"pb_StopScan", ControlKind::kButton, "Stop Scan", "Stop Scanning Cycle", 1560, 4920, 1215, 495, 4},
    {"pb_DTCOpen", ControlKind::kButton, "Open DTC Reader", "Open Diagnostic Trouble Code Reader", 3000, 4920, 1575, 495, 34},
    {"pb_drag", ControlKind::kButton, "Drag Strip", "Open OBD Dragstrip", 4800, 4920, 1815, 495, 45},
};
const ControlSpec kDtcReaderControls[] = {
    {"pb_ReadDTC", ControlKind::kButton, "Read DTC", "", 120, 120, 1455, 495, 1},
    {"pb_ResetDTC", ControlKind::kButton, "Reset DTC", "", 3960, 120, 1455, 495, 2},
    {"DTCOutput", ControlKind::kTextBox, "DTC Here", "", 120, 1680, 5295, 3975, 0},
};
const ControlSpec kDragstripControls[] = {
    {"Label1", ControlKind::kLabel, "OBD Dragstrip", "", 120, 120, 3975, 615, 0, {.fontFamily = "Arial", .fontPoints = 27.75}},
    {"Ticks", ControlKind::kTextBox, "Ticks", "", 4680, 120, 1215, 285, 10},
    {"RxText", ControlKind::kTextBox, "Text1", "", 4680, 480, 3255, 285, 1},
    {"Speed", ControlKind::kTextBox, "0", "", 480, 1080, 975, 285, 2},
    {"Label4", ControlKind::kLabel, "Speed", "", 1560, 1080, 735, 255, 7},
    {"ET", ControlKind::kTextBox, "0", "", 2640, 1080, 975, 285, 3},
    {"Label2", ControlKind::kLabel, "Current 0-100km", "", 3720, 1080, 1215, 255, 5},
    {"LastET", ControlKind::kTextBox, "0", "", 4920, 1080, 975, 285, 4},
    {"Label3", ControlKind::kLabel, "Last 0-100km", "", 6000, 1080, 1215, 255, 6},
    {"Distance", ControlKind::kTextBox, "0", "", 480, 1560, 975, 285, 11},
    {"Label5", ControlKind::kLabel, "Distance", "", 1560, 1560, 855, 255, 12},
    {"QET", ControlKind::kTextBox, "0", "", 2640, 1560, 975, 285, 13},
    {"Label7", ControlKind::kLabel, "Quarter Mi ET", "", 3720, 1560, 1095, 255, 16},
    {"TrapSpeed", ControlKind::kTextBox, "0", "", 4920, 1560, 975, 285, 14},
    {"Label6", ControlKind::kLabel, "Trap Speed (km)", "", 6000, 1560, 1695, 255, 15},
    {"Weight", ControlKind::kTextBox, "3450", "", 480, 2040, 975, 285, 19},
    {"Label8", ControlKind::kLabel, "Weight (lb)", "", 1560, 2040, 975, 255, 20},
    {"ETHP", ControlKind::kTextBox, "0", "", 2640, 2040, 975, 285, 17},
    {"Label9", ControlKind::kLabel, "ET Est. HP", "", 3720, 2040, 1215, 255, 21},
    {"TSHP", ControlKind::kTextBox, "0", "", 4920, 2040, 975, 285, 18},
    {"Label10", ControlKind::kLabel, "Trap Speed Ext. HP", "", 6000, 2040, 1695, 255, 22},
    {"pb_Start", ControlKind::kButton, "Start", "", 2280, 2520, 1455, 615, 8},
    {"pb_stop", ControlKind::kButton, "Stop", "", 4080, 2520, 1335, 615, 9},
};
const ControlSpec kGaugesControls[] = {
    {"Image1", ControlKind::kPicture, "", "", 120, 120, 2940, 2985, -1, {}},  // the speedometer dial
    {"Image2", ControlKind::kPicture, "", "", 3120, 480, 2250, 2265, -1, {}},  // the tachometer dial
};
const LineSpec kGaugesLines[] = {
    {"SpeedoNeedle", Rgb{255, 0, 0}, 2, 1590, 1635, 1590, 2640},
    {"TachNeedle", Rgb{255, 0, 0}, 2, 4200, 1560, 3600, 1920},
};
// clang-format on

}  // namespace

// Liberation Sans has Arial's widths. MS Sans Serif, a bitmap font, is
// narrower than Arial at its size: Liberation Sans at 7.5 instead of 8 pt
// (10 pixels, not 11) fits the captions measured with it. League Spartan is a
// geometric sans like Tw Cen MT and, unlike the wider free sans fonts, keeps
// its whole line (ascent and descent) within the title's box at 26.25 pt.
constexpr FontSubstitute kFontSubstitutes[] = {
    {"MS Sans Serif", "Liberation Sans", 7.5 / 8, "fonts-liberation2"},
    {"Arial", "Liberation Sans", 1, "fonts-liberation2"},
    {"Tw Cen MT", "League Spartan", 1, "fonts-league-spartan"},
};

std::span<const FontSubstitute> fontSubstitutes() {
  return kFontSubstitutes;
}

static const FontSubstitute* substituteFor(std::string_view requested) {
  for (const FontSubstitute& f : kFontSubstitutes) {
    if (f.requested == requested) return &f;
  }
  return nullptr;
}

std::string_view installedFontFamily(std::string_view requested) {
  const FontSubstitute* f = substituteFor(requested);
  return f ? f->installed : requested;
}

double installedFontPoints(std::string_view requested, double points) {
  const FontSubstitute* f = substituteFor(requested);
  return f ? points * f->scale : points;
}

const ControlSpec* WindowSpec::control(std::string_view controlName) const {
  for (const ControlSpec& c : controls) {
    if (c.name == controlName) return &c;
  }
  return nullptr;
}

const LineSpec* WindowSpec::line(std::string_view lineName) const {
  for (const LineSpec& l : lines) {
    if (l.name == lineName) return &l;
  }
  return nullptr;
}

const WindowSpec& tarvexLayout() {
  static const WindowSpec layout{"Tarvex",       "Tarvex - Mode 22", 6795,
                                 5595,           Placement::kSystem, std::nullopt,
                                 "pb_StartScan", kTarvexControls,    {}};
  return layout;
}

const WindowSpec& dtcReaderLayout() {
  static const WindowSpec layout{"DTCReader", "DTCReader",        5505,
                                 5760,        Placement::kSystem, std::nullopt,
                                 "DTCOutput", kDtcReaderControls, {}};
  return layout;
}

const WindowSpec& dragstripLayout() {
  static const WindowSpec layout{"OBDDragstrip", "OBD Dragstrip",    8040,
                                 3360,           Placement::kSystem, std::nullopt,
                                 "RxText",       kDragstripControls, {}};
  return layout;
}

const WindowSpec& gaugesLayout() {
  static const WindowSpec layout{
      "Gauges", "Gauges",        5400,        3195, Placement::kTopLeft, Rgb{255, 255, 255},
      "",       kGaugesControls, kGaugesLines};
  return layout;
}

}  // namespace tarvex
