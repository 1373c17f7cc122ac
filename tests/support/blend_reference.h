// A plain, one-pixel-at-a-time model of layer blending, written from the
// formulas of the file format's editor (8-bit products rounded with +0x80,
// truncating channel division, the backdrop-alpha mix of every non-normal
// mode, the HSL modes in doubles with its min/mid/max picks), kept apart
// from the engine so the two can be compared.
#ifndef VELMORA_TESTS_SUPPORT_BLEND_REFERENCE_H
#define VELMORA_TESTS_SUPPORT_BLEND_REFERENCE_H

#include <cmath>
#include <cstdint>

namespace VelmoraTest::BlendRef {

struct Px {
    int r, g, b, a;
};

inline Px Unpack(uint32_t c) {
    return Px{static_cast<int>(c & 255U), static_cast<int>((c >> 8) & 255U), static_cast<int>((c >> 16) & 255U),
              static_cast<int>((c >> 24) & 255U)};
}
inline uint32_t Pack(const Px& p) {
    return static_cast<uint32_t>(p.r) | static_cast<uint32_t>(p.g) << 8 | static_cast<uint32_t>(p.b) << 16 |
           static_cast<uint32_t>(p.a) << 24;
}

// Floor of x / 256 through the remainder.
inline int Floor256(int x) { return (x - (((x % 256) + 256) % 256)) / 256; }
inline int Mul(int a, int b) {
    const int t = a * b + 128;
    return Floor256(Floor256(t) + t);
}

inline Px Over(Px b, Px s, int opacity) {
    if (b.a == 0) return Px{s.r, s.g, s.b, Mul(s.a, opacity)};
    if (s.a == 0) return b;
    const int sa = Mul(s.a, opacity);
    const int ra = b.a + sa - Mul(b.a, sa);
    return Px{b.r + (s.r - b.r) * sa / ra, b.g + (s.g - b.g) * sa / ra, b.b + (s.b - b.b) * sa / ra, ra};
}

inline Px Lerp(Px b, Px s, int t) {
    Px out = b;
    if (b.a == 0) {
        out = s;
    } else if (s.a != 0) {
        out.r = b.r + Mul(s.r - b.r, t);
        out.g = b.g + Mul(s.g - b.g, t);
        out.b = b.b + Mul(s.b - b.b, t);
    }
    out.a = b.a + Mul(s.a - b.a, t);
    if (out.a == 0) out = Px{0, 0, 0, 0};
    return out;
}

inline int Channel(int mode, int b, int s) {
    const auto hard = [](int bb, int ss) {
        if (ss < 128) return Mul(bb, 2 * ss);
        const int s2 = 2 * ss - 255;
        return bb + s2 - Mul(bb, s2);
    };
    switch (mode) {
    case 1: return Mul(b, s);
    case 2: return b + s - Mul(b, s);
    case 3: return hard(s, b);
    case 4: return b < s ? b : s;
    case 5: return b < s ? s : b;
    case 6:
        if (b == 0) return 0;
        if (b >= 255 - s) return 255;
        return (b * 255 + (255 - s) / 2) / (255 - s);
    case 7:
        if (b == 255) return 255;
        if (255 - b >= s) return 0;
        return 255 - ((255 - b) * 255 + s / 2) / s;
    case 8: return hard(b, s);
    case 9: {
        const double bd = b / 255.0;
        const double sd = s / 255.0;
        double d = std::sqrt(bd);
        if (bd <= 0.25) d = ((16 * bd - 12) * bd + 4) * bd;
        double r = 0;
        if (sd <= 0.5) {
            r = bd - (1.0 - 2.0 * sd) * bd * (1.0 - bd);
        } else {
            r = bd + (2.0 * sd - 1.0) * (d - bd);
        }
        const double half = r * 255 + 0.5;  // truncated after, not lround
        return static_cast<int>(half);
    }
    case 10: return b > s ? b - s : s - b;
    case 11: return b + s - 2 * Mul(b, s);
    case 16: return b + s < 255 ? b + s : 255;
    case 17: return b - s > 0 ? b - s : 0;
    case 18:
        if (b == 0) return 0;
        if (b >= s) return 255;
        return (b * 255 + s / 2) / s;
    default: return s;
    }
}

inline double Lum(const double* c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }

inline void SetLum(double* c, double l) {
    const double d = l - Lum(c);
    for (int i = 0; i < 3; ++i) c[i] += d;
    const double lum = Lum(c);
    const double lo = std::fmin(c[0], std::fmin(c[1], c[2]));
    const double hi = std::fmax(c[0], std::fmax(c[1], c[2]));
    if (lo < 0) {
        for (int i = 0; i < 3; ++i) c[i] = lum + (((c[i] - lum) * lum) / (lum - lo));
    }
    if (hi > 1) {
        for (int i = 0; i < 3; ++i) c[i] = lum + (((c[i] - lum) * (1 - lum)) / (hi - lum));
    }
}

// The editor's picks of minimum, middle and maximum, ties included.
inline void SetSat(double* c, double s) {
    double* r = &c[0];
    double* g = &c[1];
    double* b = &c[2];
    double* mn = (*r < (*g < *b ? *g : *b)) ? r : (*g < *b ? g : b);
    double* mx = (*r > (*g > *b ? *g : *b)) ? r : (*g > *b ? g : b);
    double* md = (*r > *g) ? ((*g > *b) ? g : ((*r > *b) ? b : r)) : ((*g > *b) ? ((*b > *r) ? b : r) : g);
    if (*mx > *mn) {
        *md = ((*md - *mn) * s) / (*mx - *mn);
        *mx = s;
    } else {
        *md = 0;
        *mx = 0;
    }
    *mn = 0;
}

inline int Trunc255(double v) {
    const double x = 255.0 * v;
    if (!(x > 0)) return 0;
    return x >= 255 ? 255 : static_cast<int>(x);
}

inline Px ModeColour(int mode, Px b, Px s) {
    if (mode >= 12 && mode <= 15) {
        double bc[3] = {b.r / 255.0, b.g / 255.0, b.b / 255.0};
        double sc[3] = {s.r / 255.0, s.g / 255.0, s.b / 255.0};
        double* out = sc;
        if (mode == 12) {
            const double sat = std::fmax(bc[0], std::fmax(bc[1], bc[2])) - std::fmin(bc[0], std::fmin(bc[1], bc[2]));
            SetSat(sc, sat);
            SetLum(sc, Lum(bc));
        } else if (mode == 13) {
            const double sat = std::fmax(sc[0], std::fmax(sc[1], sc[2])) - std::fmin(sc[0], std::fmin(sc[1], sc[2]));
            const double l = Lum(bc);
            SetSat(bc, sat);
            SetLum(bc, l);
            out = bc;
        } else if (mode == 14) {
            SetLum(sc, Lum(bc));
        } else {
            SetLum(bc, Lum(sc));
            out = bc;
        }
        return Px{Trunc255(out[0]), Trunc255(out[1]), Trunc255(out[2]), s.a};
    }
    return Px{Channel(mode, b.r, s.r), Channel(mode, b.g, s.g), Channel(mode, b.b, s.b), s.a};
}

inline uint32_t Blend(int mode, uint32_t backdrop, uint32_t source, int opacity) {
    const Px b = Unpack(backdrop);
    const Px s = Unpack(source);
    if (mode == 0 || b.a == 0) return Pack(Over(b, s, opacity));
    const Px normal = Over(b, s, opacity);
    const Px blended = Over(b, ModeColour(mode, b, s), opacity);
    const Px first = Lerp(normal, blended, b.a);
    return Pack(Lerp(first, blended, Mul(b.a, Mul(s.a, opacity))));
}

}  // namespace VelmoraTest::BlendRef

#endif  // VELMORA_TESTS_SUPPORT_BLEND_REFERENCE_H
