#include "app/layouts.h"

#include <gtest/gtest.h>

#include <QStringList>

#include "tests/support/qt_print.h"

namespace tarvex {
namespace {

// The published layout tables, row by row as they read: control, kind, caption
// or text, tool tip, left, top, width, height, tab, other.
// clang-format off
const char* const kTarvexRows[] = {
    "Label2|label|OBD II|-|120|120|1695|495|44|font Tw Cen MT, 26.25 pt",
    "Label1|label|Log to file name:|-|2280|120|1215|255|43|-",
    "tb_logpath|text box|c:\\testlog.csv|-|3480|120|2055|285|41|-",
    "pb_changedir|button|...|Select logfile|5640|120|375|255|47|font MS Sans Serif, 12 pt, bold",
    "MIL|filled square|-|-|6120|120|495|495|-|solid fill grey (128, 128, 128)",
    "Label14|label|MIL|-|6240|240|375|255|31|transparent background",
    "Version|label|V1.5|-|1680|480|615|255|46|-",
    "Text1|text box|Text1|-|2520|480|150|285|2|hidden",
    "RxText|text box|Text2|-|2760|480|150|285|1|hidden",
    "TxText|text box|Text1|-|3000|480|150|285|0|hidden",
    "cb_log|check box|Log to file|-|3480|480|2055|255|42|-",
    "RPM|text box|RPM|-|120|960|735|285|5|-",
    "tb_RPM|label|RPM|Engine RPM|960|960|495|255|11|-",
    "Speed|text box|Speed|-|1680|960|735|285|7|-",
    "tb_speed|label|Km/h|Vehicle Speed|2520|960|495|255|14|-",
    "IAT|text box|IAT|-|3240|960|735|285|6|-",
    "tb_IAT|label|C|Intake Air Temperature|4080|960|495|255|12|-",
    "ERT|text box|Runtime|-|4800|960|735|285|25|-",
    "tb_ert|label|ERT|Engine Runtime|5640|960|975|255|26|-",
    "MAF|text box|MAF|-|120|1320|735|285|9|-",
    "tb_maf|label|g/s|Mass Air Flow|960|1320|495|255|13|-",
    "LOAD|text box|LOAD|-|1680|1320|735|285|10|-",
    "tb_load|label|LOAD%|-|2520|1320|615|255|16|-",
    "TPS|text box|TPS|-|3240|1320|735|285|8|-",
    "tb_tps|label|TPS%|Throttle Position Sensor Absolute Position|4080|1320|495|255|15|-",
    "MAP|text box|MAP|-|4800|1320|735|285|27|-",
    "tb_map|label|MAP KPa|Manafold Absolute Pressure|5640|1320|855|255|28|-",
    "Timing|text box|Timing|-|120|1680|735|285|17|-",
    "tb_timing|label|Deg|Timing|960|1680|375|255|18|-",
    "Coolant|text box|Coolant|-|1680|1680|735|285|19|-",
    "tb_coolant|label|Cool C|Coolant Temperature|2520|1680|615|255|20|-",
    "KR|text box|Knock Retard|-|3240|1680|735|285|29|disabled",
    "tb_kr|label|KR Deg|Knock Timing Retard|4080|1680|735|255|30|-",
    "DTC|text box|DTC|-|4800|1680|735|285|32|-",
    "tb_DTC|label|DTC Count|Diagnostic Trouble Code Count|5640|1680|975|255|33|-",
    "STFTB1|text box|STFTB1|-|120|2040|735|285|21|-",
    "tb_STFTB1|label|STFTB1|Short Term Fuel Trim Bank 1|960|2040|615|255|22|-",
    "STFTB2|text box|STFTB2|-|1680|2040|735|285|65|-",
    "tb_STFTB2|label|STFTB2|-|2520|2040|735|255|67|-",
    "Gear|text box|Gear|-|3240|2040|735|285|35|disabled",
    "tb_Gear|label|Gear|Current Gear|4080|2040|495|255|36|-",
    "Volts|text box|Volts|-|4800|2040|735|285|37|-",
    "tb_volts|label|Ign V|Ingition Battery Voltage|5640|2040|855|255|38|-",
    "LTFTB1|text box|LTFTB1|-|120|2400|735|285|23|-",
    "tb_ltftb1|label|LTFTB1|Long Term Fuel Trim Bank 1|960|2400|615|255|24|-",
    "LTFTB2|text box|LTFTB2|-|1680|2400|735|285|66|-",
    "tb_LTFTB2|label|LTFTB2|-|2520|2400|615|255|68|-",
    "AirFuel|text box|AFR|-|3240|2400|735|285|39|disabled",
    "tb_airfuel|label|A/F R|Air Fuel Ratio|4080|2400|495|255|40|-",
    "label_o2|label|O2 Sensor Voltages|-|2670|2760|1455|255|48|-",
    "O2B1S1|text box|O2B1S1|-|120|3120|735|285|49|-",
    "tb_O2B1S1|label|B1S1 V|-|960|3120|615|255|53|-",
    "O2B1S2|text box|O2B1S2|-|1680|3120|735|285|50|disabled",
    "tb_O2B1S2|label|B1S2 V|-|2520|3120|615|255|54|-",
    "O2B2S1|text box|O2B2S1|-|3240|3120|735|285|51|-",
    "tb_O2B2S1|label|B2S1 V|-|4080|3120|615|255|55|-",
    "O2B2S2|text box|O2B2S2|-|4800|3120|735|285|52|disabled",
    "tb_o2b2s2|label|B2S2 V|-|5640|3120|615|255|56|-",
    "O2B1S1T|text box|O2B1S1T|-|120|3480|735|285|72|-",
    "tb_O2B1S1T|label|Trim %|-|960|3480|615|255|76|-",
    "O2B1S2T|text box|O2B1S2T|-|1680|3480|735|285|73|-",
    "tb_O2B1S2T|label|Trim %|-|2520|3480|615|255|77|-",
    "O2B2S1T|text box|O2B2S1T|-|3240|3480|735|285|74|-",
    "tb_O2B2S1T|label|Trim %|-|4080|3480|495|255|78|-",
    "O2B2S2T|text box|O2B2S2T|-|4800|3480|735|285|75|-",
    "tb_O2B2S2T|label|Trim %|-|5640|3480|615|255|79|-",
    "FuelSysStatus|text box|Fuel System Status B1|-|120|3840|1935|285|57|-",
    "tb_FuelSystemStatus|label|Fuel Status B1|-|2160|3840|1095|255|58|-",
    "FuelSysStatusB2|text box|Fuel System Status B2|-|3360|3840|1935|285|70|-",
    "tb_FuelSysStatusB2|label|Fuel Status B2|-|5400|3840|1215|255|71|-",
    "Label3|label|Exhaust Gas Recirculation System|-|2130|4200|2535|255|69|-",
    "EGRDP|text box|EGRDP|-|120|4560|735|285|59|-",
    "tb_EGRDP|label|EGRD%|Exhaust Gas Recirculation Desired Position|960|4560|615|255|62|-",
    "EGRAP|text box|EGRAP|-|1680|4560|735|285|60|-",
    "tb_EGRAP|label|EGRA%|Exhaust Gas Recirculation Actual Percentage|2520|4560|735|255|63|-",
    "EGRDC|text box|EGRDC|-|3240|4560|735|285|61|-",
    "tb_EGRDC|label|EGRDC %|Exhaust Gas Recirculation Duty Cycle|4080|4560|735|255|64|-",
    "pb_StartScan|button|Start Scan|Start Scanning Cycle|120|4920|1215|495|3|-",
    "pb_StopScan|button|Stop Scan|Stop Scanning Cycle|1560|4920|1215|495|4|-",
    "pb_DTCOpen|button|Open DTC Reader|Open Diagnostic Trouble Code Reader|3000|4920|1575|495|34|-",
    "pb_drag|button|Drag Strip|Open OBD Dragstrip|4800|4920|1815|495|45|-",
};
const char* const kDtcReaderRows[] = {
    "pb_ReadDTC|button|Read DTC|-|120|120|1455|495|1|-",
    "pb_ResetDTC|button|Reset DTC|-|3960|120|1455|495|2|-",
    "DTCOutput|text box|DTC Here|-|120|1680|5295|3975|0|-",
};
const char* const kDragstripRows[] = {
    "Label1|label|OBD Dragstrip|-|120|120|3975|615|0|font Arial, 27.75 pt",
    "Ticks|text box|Ticks|-|4680|120|1215|285|10|-",
    "RxText|text box|Text1|-|4680|480|3255|285|1|-",
    "Speed|text box|0|-|480|1080|975|285|2|-",
    "Label4|label|Speed|-|1560|1080|735|255|7|-",
    "ET|text box|0|-|2640|1080|975|285|3|-",
    "Label2|label|Current 0-100km|-|3720|1080|1215|255|5|-",
    "LastET|text box|0|-|4920|1080|975|285|4|-",
    "Label3|label|Last 0-100km|-|6000|1080|1215|255|6|-",
    "Distance|text box|0|-|480|1560|975|285|11|-",
    "Label5|label|Distance|-|1560|1560|855|255|12|-",
    "QET|text box|0|-|2640|1560|975|285|13|-",
    "Label7|label|Quarter Mi ET|-|3720|1560|1095|255|16|-",
    "TrapSpeed|text box|0|-|4920|1560|975|285|14|-",
    "Label6|label|Trap Speed (km)|-|6000|1560|1695|255|15|-",
    "Weight|text box|3450|-|480|2040|975|285|19|-",
    "Label8|label|Weight (lb)|-|1560|2040|975|255|20|-",
    "ETHP|text box|0|-|2640|2040|975|285|17|-",
    "Label9|label|ET Est. HP|-|3720|2040|1215|255|21|-",
    "TSHP|text box|0|-|4920|2040|975|285|18|-",
    "Label10|label|Trap Speed Ext. HP|-|6000|2040|1695|255|22|-",
    "pb_Start|button|Start|-|2280|2520|1455|615|8|-",
    "pb_stop|button|Stop|-|4080|2520|1335|615|9|-",
};
const char* const kGaugesRows[] = {
    "Image1|picture|-|-|120|120|2940|2985|-|speedometer dial",
    "Image2|picture|-|-|3120|480|2250|2265|-|tachometer dial",
};
const char* const kNeedleRows[] = {
    "SpeedoNeedle|red (255, 0, 0)|2|1590|1635|1590|2640",
    "TachNeedle|red (255, 0, 0)|2|4200|1560|3600|1920",
};
// clang-format on

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
QString orDash(std::string_view s) {
  return s.empty() ? QStringLiteral("-") : qs(s);
}

QString kindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return QStringLiteral("label");
    case ControlKind::kTextBox:
      return QStringLiteral("text box");
    case ControlKind::kButton:
      return QStringLiteral("button");
    case ControlKind::kCheckBox:
      return QStringLiteral("check box");
    case ControlKind::kFilledSquare:
      return QStringLiteral("filled square");
    case ControlKind::kPicture:
      return QStringLiteral("picture");
  }
  return {};
}

QString rgb(Rgb c) {
  return QStringLiteral("(%1, %2, %3)").arg(c.red).arg(c.green).arg(c.blue);
}

QString row(const ControlSpec& c) {
  QStringList other;
  if (!c.style.fontFamily.empty()) {
    other << QStringLiteral("font %1, %2 pt%3")
                 .arg(qs(c.style.fontFamily))
                 .arg(c.style.fontPoints)
                 .arg(c.style.bold ? QStringLiteral(", bold") : QString());
  }
  if (!c.style.enabled) other << QStringLiteral("disabled");
  if (!c.style.visible) other << QStringLiteral("hidden");
  if (c.style.transparent) other << QStringLiteral("transparent background");
  if (c.style.fill) other << QStringLiteral("solid fill grey ") + rgb(*c.style.fill);
  if (!c.style.note.empty()) other << qs(c.style.note);
  return QStringList{qs(c.name),
                     kindName(c.kind),
                     orDash(c.text),
                     orDash(c.toolTip),
                     QString::number(c.left),
                     QString::number(c.top),
                     QString::number(c.width),
                     QString::number(c.height),
                     c.tab < 0 ? QStringLiteral("-") : QString::number(c.tab),
                     other.isEmpty() ? QStringLiteral("-") : other.join(QStringLiteral(", "))}
      .join(QLatin1Char('|'));
}

template <std::size_t N>
void expectRows(const WindowSpec& window, const char* const (&rows)[N]) {
  ASSERT_EQ(window.controls.size(), N) << window.name;
  for (std::size_t i = 0; i < N; ++i) EXPECT_EQ(row(window.controls[i]), QString::fromUtf8(rows[i]));
}

TEST(Layouts, ControlsAsPublished) {
  expectRows(tarvexLayout(), kTarvexRows);
  expectRows(dtcReaderLayout(), kDtcReaderRows);
  expectRows(dragstripLayout(), kDragstripRows);
  expectRows(gaugesLayout(), kGaugesRows);
}

TEST(Layouts, NeedlesAsPublished) {
  ASSERT_EQ(gaugesLayout().lines.size(), std::size(kNeedleRows));
  for (std::size_t i = 0; i < std::size(kNeedleRows); ++i) {
    const LineSpec& l = gaugesLayout().lines[i];
    const QString text = QStringList{qs(l.name),
                                     QStringLiteral("red ") + rgb(l.colour),
                                     QString::number(l.width),
                                     QString::number(l.x1),
                                     QString::number(l.y1),
                                     QString::number(l.x2),
                                     QString::number(l.y2)}
                             .join(QLatin1Char('|'));
    EXPECT_EQ(text, QLatin1String(kNeedleRows[i]));
  }
}

TEST(Layouts, Windows) {
  const struct {
    const WindowSpec& window;
    const char* text;
  } cases[] = {
      {tarvexLayout(), "Tarvex|Tarvex - Mode 22|6795|5595|system|default|pb_StartScan"},
      {dtcReaderLayout(), "DTCReader|DTCReader|5505|5760|system|default|DTCOutput"},
      {dragstripLayout(), "OBDDragstrip|OBD Dragstrip|8040|3360|system|default|RxText"},
      {gaugesLayout(), "Gauges|Gauges|5400|3195|top left|(255, 255, 255)|none"},
  };
  for (const auto& c : cases) {
    const WindowSpec& w = c.window;
    const QString text = QStringList{qs(w.name),
                                     qs(w.caption),
                                     QString::number(w.width),
                                     QString::number(w.height),
                                     w.placement == Placement::kTopLeft ? QStringLiteral("top left")
                                                                        : QStringLiteral("system"),
                                     w.background ? rgb(*w.background) : QStringLiteral("default"),
                                     w.firstFocus.empty() ? QStringLiteral("none") : qs(w.firstFocus)}
                             .join(QLatin1Char('|'));
    EXPECT_EQ(text, QLatin1String(c.text));
  }
}

}  // namespace
}  // namespace tarvex
