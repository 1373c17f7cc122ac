// Layer blending of sprite editors' layered files: one source pixel over one
// backdrop pixel, in the integer arithmetic the files' own editor uses, so a
// flattened frame matches what the artist saw to the last bit.
#ifndef VELMORA_BLEND_H
#define VELMORA_BLEND_H

#include <cstdint>

namespace Velmora {

// The nineteen layer modes, numbered as layered sprite files store them.
enum class BlendMode : uint8_t {
    Normal = 0,
    Multiply = 1,
    Screen = 2,
    Overlay = 3,
    Darken = 4,
    Lighten = 5,
    ColorDodge = 6,
    ColorBurn = 7,
    HardLight = 8,
    SoftLight = 9,
    Difference = 10,
    Exclusion = 11,
    Hue = 12,
    Saturation = 13,
    Color = 14,
    Luminosity = 15,
    Addition = 16,
    Subtract = 17,
    Divide = 18,
};

constexpr int kBlendModeCount = 19;

// Rounded a * b / 255 for a in -255..255 and b in 0..255 (negative a rounds
// the way an arithmetic right shift does).
int MulUn8(int a, int b);

// `source` (straight, not premultiplied RGBA, red in the low byte) drawn over
// `backdrop` at `opacity` (0..255, scaling the source's alpha) in `mode`.
// Every mode but Normal mixes its blended colour in by the backdrop's alpha,
// so over a transparent backdrop each mode is Normal. The hue, saturation,
// colour and luminosity modes work in doubles, each operation rounded on its
// own (the engine is built without contraction), so the result is the same
// on every compiler and platform.
uint32_t BlendPixel(BlendMode mode, uint32_t backdrop, uint32_t source, int opacity);

}  // namespace Velmora

#endif  // VELMORA_BLEND_H
