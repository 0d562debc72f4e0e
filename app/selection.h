#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "scan/catalogue.h"

namespace tarvex {

// A selection label of the main window and the value box its click toggles.
// The two fuel-status labels act on the pair, following the bank 1 box.
struct SelectionLabel {
  std::string_view label;
  Box box;
  std::optional<Box> pairedWith = std::nullopt;
};

inline constexpr std::array<SelectionLabel, 28> kSelectionLabels{{
    {"tb_RPM", Box::kRPM},
    {"tb_speed", Box::kSpeed},
    {"tb_IAT", Box::kIAT},
    {"tb_ert", Box::kERT},
    {"tb_maf", Box::kMAF},
    {"tb_load", Box::kLOAD},
    {"tb_tps", Box::kTPS},
    {"tb_map", Box::kMAP},
    {"tb_timing", Box::kTiming},
    {"tb_coolant", Box::kCoolant},
    {"tb_kr", Box::kKR},
    {"tb_DTC", Box::kDTC},
    {"tb_STFTB1", Box::kSTFTB1},
    {"tb_ltftb1", Box::kLTFTB1},
    {"tb_STFTB2", Box::kSTFTB2},
    {"tb_LTFTB2", Box::kLTFTB2},
    {"tb_Gear", Box::kGear},
    {"tb_volts", Box::kVolts},
    {"tb_airfuel", Box::kAirFuel},
    {"tb_O2B1S1", Box::kO2B1S1},
    {"tb_O2B1S2", Box::kO2B1S2},
    {"tb_O2B2S1", Box::kO2B2S1},
    {"tb_o2b2s2", Box::kO2B2S2},
    {"tb_FuelSystemStatus", Box::kFuelSysStatus, Box::kFuelSysStatusB2},
    {"tb_FuelSysStatusB2", Box::kFuelSysStatus, Box::kFuelSysStatusB2},
    {"tb_EGRDP", Box::kEGRDP},
    {"tb_EGRAP", Box::kEGRAP},
    {"tb_EGRDC", Box::kEGRDC},
}};

}  // namespace tarvex
