// Layer blending, operation for operation as the editor that writes the
// files computes it: 8-bit products rounded with the +0x80 trick, channel
// mixes divided with C's truncation, and the non-separable modes in doubles.
#include "velmora/blend.h"

#include <cmath>

namespace Velmora {

namespace {

int Red(uint32_t c) { return static_cast<int>(c & 0xFFU); }
int Green(uint32_t c) { return static_cast<int>((c >> 8) & 0xFFU); }
int Blue(uint32_t c) { return static_cast<int>((c >> 16) & 0xFFU); }
int Alpha(uint32_t c) { return static_cast<int>(c >> 24); }

uint32_t Pack(int r, int g, int b, int a) {
    return static_cast<uint32_t>(r & 0xFF) | static_cast<uint32_t>(g & 0xFF) << 8 |
           static_cast<uint32_t>(b & 0xFF) << 16 | static_cast<uint32_t>(a & 0xFF) << 24;
}

// floor(value / 256) without relying on how >> treats negative numbers.
int FloorShift8(int value) { return value >= 0 ? value >> 8 : -((-value + 255) >> 8); }

// a * 255 / b, rounded, for 0 <= a < b.
int DivUn8(int a, int b) { return (a * 255 + b / 2) / b; }

uint32_t Normal(uint32_t backdrop, uint32_t source, int opacity) {
    if (Alpha(backdrop) == 0) {
        return (source & 0x00FFFFFFU) | static_cast<uint32_t>(MulUn8(Alpha(source), opacity)) << 24;
    }
    if (Alpha(source) == 0) return backdrop;
    const int sa = MulUn8(Alpha(source), opacity);
    const int ba = Alpha(backdrop);
    const int ra = sa + ba - MulUn8(ba, sa);
    // ra >= ba > 0. The division truncates toward zero, as the editor's does.
    const auto mix = [sa, ra](int b, int s) { return b + (s - b) * sa / ra; };
    return Pack(mix(Red(backdrop), Red(source)), mix(Green(backdrop), Green(source)),
                mix(Blue(backdrop), Blue(source)), ra);
}

// Straight interpolation of all four channels from `backdrop` to `source`.
uint32_t Merge(uint32_t backdrop, uint32_t source, int opacity) {
    const int ba = Alpha(backdrop);
    const int sa = Alpha(source);
    int r = Red(backdrop);
    int g = Green(backdrop);
    int b = Blue(backdrop);
    if (ba == 0) {
        r = Red(source);
        g = Green(source);
        b = Blue(source);
    } else if (sa != 0) {
        r += MulUn8(Red(source) - r, opacity);
        g += MulUn8(Green(source) - g, opacity);
        b += MulUn8(Blue(source) - b, opacity);
    }
    const int a = ba + MulUn8(sa - ba, opacity);
    if (a == 0) return 0;
    return Pack(r, g, b, a);
}

int HardLight(int b, int s) {
    return s < 128 ? MulUn8(b, s << 1) : b + ((s << 1) - 255) - MulUn8(b, (s << 1) - 255);
}

int ColorDodge(int b, int s) {
    if (b == 0) return 0;
    const int inverse = 255 - s;
    return b >= inverse ? 255 : DivUn8(b, inverse);
}

int ColorBurn(int b, int s) {
    if (b == 255) return 255;
    const int inverse = 255 - b;
    return inverse >= s ? 0 : 255 - DivUn8(inverse, s);
}

int SoftLight(int backdrop, int source) {
    const double b = backdrop / 255.0;
    const double s = source / 255.0;
    const double d = b <= 0.25 ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
    const double r = s <= 0.5 ? b - (1.0 - 2.0 * s) * b * (1.0 - b) : b + (2.0 * s - 1.0) * (d - b);
    // Half added, then truncated: the editor's rounding, which differs from
    // lround on a few values just under a half.
    const double shifted = r * 255 + 0.5;
    return static_cast<int>(shifted);
}

int Divide(int b, int s) {
    if (b == 0) return 0;
    return b >= s ? 255 : DivUn8(b, s);
}

int Separable(BlendMode mode, int b, int s) {
    switch (mode) {
    case BlendMode::Multiply: return MulUn8(b, s);
    case BlendMode::Screen: return b + s - MulUn8(b, s);
    case BlendMode::Overlay: return HardLight(s, b);
    case BlendMode::Darken: return b < s ? b : s;
    case BlendMode::Lighten: return b > s ? b : s;
    case BlendMode::ColorDodge: return ColorDodge(b, s);
    case BlendMode::ColorBurn: return ColorBurn(b, s);
    case BlendMode::HardLight: return HardLight(b, s);
    case BlendMode::SoftLight: return SoftLight(b, s);
    case BlendMode::Difference: return b > s ? b - s : s - b;
    case BlendMode::Exclusion: return b + s - 2 * MulUn8(b, s);
    case BlendMode::Addition: return b + s > 255 ? 255 : b + s;
    case BlendMode::Subtract: return b > s ? b - s : 0;
    case BlendMode::Divide: return Divide(b, s);
    default: return s;
    }
}

// The non-separable modes on colours as three doubles in 0..1.
struct Rgb {
    double c[3];
};

Rgb ToRgb(uint32_t colour) { return Rgb{{Red(colour) / 255.0, Green(colour) / 255.0, Blue(colour) / 255.0}}; }

double Lum(const Rgb& v) { return 0.3 * v.c[0] + 0.59 * v.c[1] + 0.11 * v.c[2]; }

double Min3(const Rgb& v) {
    const double gb = v.c[1] < v.c[2] ? v.c[1] : v.c[2];
    return v.c[0] < gb ? v.c[0] : gb;
}

double Max3(const Rgb& v) {
    const double gb = v.c[1] > v.c[2] ? v.c[1] : v.c[2];
    return v.c[0] > gb ? v.c[0] : gb;
}

double Sat(const Rgb& v) { return Max3(v) - Min3(v); }

void ClipColor(Rgb& v) {
    // Both corrections use the luminance and extremes from before either.
    const double l = Lum(v);
    const double n = Min3(v);
    const double x = Max3(v);
    if (n < 0) {
        for (double& c : v.c) c = l + (((c - l) * l) / (l - n));
    }
    if (x > 1) {
        for (double& c : v.c) c = l + (((c - l) * (1 - l)) / (x - l));
    }
}

void SetLum(Rgb& v, double l) {
    const double d = l - Lum(v);
    for (double& c : v.c) c += d;
    ClipColor(v);
}

// Which channel is the minimum, middle and maximum, picked by the same
// comparisons the editor makes. On ties two roles can name one channel
// (r == g < b makes green both minimum and middle and leaves red as it was);
// the files were drawn with that, so it is kept.
void SetSat(Rgb& v, double s) {
    const double r = v.c[0];
    const double g = v.c[1];
    const double b = v.c[2];
    const int minGb = g < b ? 1 : 2;
    const int lo = r < v.c[minGb] ? 0 : minGb;
    const int maxGb = g > b ? 1 : 2;
    const int hi = r > v.c[maxGb] ? 0 : maxGb;
    int mid = 1;
    if (r > g) {
        mid = g > b ? 1 : (r > b ? 2 : 0);
    } else {
        mid = g > b ? (b > r ? 2 : 0) : 1;
    }
    if (v.c[hi] > v.c[lo]) {
        v.c[mid] = ((v.c[mid] - v.c[lo]) * s) / (v.c[hi] - v.c[lo]);
        v.c[hi] = s;
    } else {
        v.c[hi] = 0;
        v.c[mid] = 0;
    }
    v.c[lo] = 0;
}

// 255 * c truncated, as an int conversion does for the values that occur;
// anything outside 0..255 (never seen, but doubles allow it) is clamped
// rather than left to undefined behaviour.
int ToChannel(double c) {
    const double scaled = 255.0 * c;
    if (!(scaled > 0)) return 0;
    if (scaled >= 255) return 255;
    return static_cast<int>(scaled);
}

uint32_t NonSeparable(BlendMode mode, uint32_t backdrop, uint32_t source) {
    const Rgb b = ToRgb(backdrop);
    const Rgb s = ToRgb(source);
    Rgb out = s;
    switch (mode) {
    case BlendMode::Hue:
        SetSat(out, Sat(b));
        SetLum(out, Lum(b));
        break;
    case BlendMode::Saturation:
        out = b;
        SetSat(out, Sat(s));
        SetLum(out, Lum(b));
        break;
    case BlendMode::Color:
        SetLum(out, Lum(b));
        break;
    default:  // Luminosity
        out = b;
        SetLum(out, Lum(s));
        break;
    }
    return Pack(ToChannel(out.c[0]), ToChannel(out.c[1]), ToChannel(out.c[2]), 0);
}

// The mode's colour with the source's alpha, drawn over the backdrop normally.
uint32_t Blended(BlendMode mode, uint32_t backdrop, uint32_t source, int opacity) {
    uint32_t colour = 0;
    if (mode == BlendMode::Hue || mode == BlendMode::Saturation || mode == BlendMode::Color ||
        mode == BlendMode::Luminosity) {
        colour = NonSeparable(mode, backdrop, source);
    } else {
        colour = Pack(Separable(mode, Red(backdrop), Red(source)), Separable(mode, Green(backdrop), Green(source)),
                      Separable(mode, Blue(backdrop), Blue(source)), 0);
    }
    return Normal(backdrop, colour | (source & 0xFF000000U), opacity);
}

}  // namespace

int MulUn8(int a, int b) {
    const int t = a * b + 0x80;
    return FloorShift8(FloorShift8(t) + t);
}

uint32_t BlendPixel(BlendMode mode, uint32_t backdrop, uint32_t source, int opacity) {
    if (mode == BlendMode::Normal || Alpha(backdrop) == 0 || static_cast<int>(mode) >= kBlendModeCount) {
        return Normal(backdrop, source, opacity);
    }
    // The blended colour counts in proportion to the backdrop's alpha, and
    // the result in proportion to how much of the source covers it.
    const int ba = Alpha(backdrop);
    const uint32_t normal = Normal(backdrop, source, opacity);
    const uint32_t blend = Blended(mode, backdrop, source, opacity);
    const uint32_t toward = Merge(normal, blend, ba);
    const int cover = MulUn8(ba, MulUn8(Alpha(source), opacity));
    return Merge(toward, blend, cover);
}

}  // namespace Velmora
