#pragma once
// What one QX-7 has, as every layer counts it.

namespace qx {

constexpr int kWindows = 4;  // windows 0..3
constexpr int kInputs = 16;  // inputs 0..15
constexpr int kBanks = 4;    // banks 1..4; 0 means the live input
constexpr int kPresets = 16; // presets 1..16

} // namespace qx
