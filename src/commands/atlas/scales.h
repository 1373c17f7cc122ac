// --scale and --filter of --atlas: the scale variants to write, how to
// resample for them, and the suffix that names each variant's files.
#ifndef VELMORA_COMMANDS_ATLAS_SCALES_H
#define VELMORA_COMMANDS_ATLAS_SCALES_H

#include <string>
#include <vector>

#include "velmora/resample.h"

namespace Velmora::Commands {

// Scales are decimals with at most kScalePlaces places, from kMinScale to
// kMaxScale ten-thousandths: 0.01 shrinks a 100-pixel frame to one pixel,
// and 16 takes a 1024-pixel frame to kMaxImageSide.
constexpr int32_t kScaleDenominator = 10000;
constexpr int32_t kScalePlaces = 4;
constexpr int32_t kMinScale = 100;
constexpr int32_t kMaxScale = 16 * kScaleDenominator;
// Each scale is a whole set of output files.
constexpr size_t kMaxScaleCount = 16;

// "S[,S...]": each S digits with an optional '.' and one to kScalePlaces
// digits (no sign, exponent or blank), within the range above, no value
// twice ("0.5" and "0.50" are the same). Fills `scales` in the order given,
// each in lowest terms, and returns true; otherwise sets `error` to one
// phrase naming the offending text and leaves `scales` untouched.
bool ParseScales(const std::string& text, std::vector<ScaleFactor>& scales, std::string& error);

// "smooth" (painted art, the default) or "nearest" (pixel art).
bool ParseFilter(const std::string& text, ResampleFilter& filter, std::string& error);

// The factor as a decimal in its shortest form ("0.5", "2", "1"), to
// kScalePlaces places, cut, not rounded.
std::string ScaleText(ScaleFactor scale);

// What follows PREFIX in a variant's file names: "" for 1, otherwise "@Sx"
// with S in its shortest decimal form ("@0.5x", "@2x", "@0.0125x"), which
// PixiJS reads back as the resolution (its pattern /@([0-9.]+)x/).
// For a factor ParseScales gives; another one is written to kScalePlaces
// places, cut, not rounded.
std::string ScaleSuffix(ScaleFactor scale);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_SCALES_H
