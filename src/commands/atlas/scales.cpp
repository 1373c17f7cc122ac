#include "atlas/scales.h"

#include <cstdint>
#include <utility>

namespace Velmora::Commands {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int64_t GreatestCommonDivisor(int64_t a, int64_t b) {
    while (b != 0) {
        const int64_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

// One decimal in ten-thousandths; false for anything but digits, an
// optional point and one to kScalePlaces digits, or a value past kMaxScale.
bool ParseTenThousandths(const std::string& text, int64_t& value) {
    size_t at = 0;
    int64_t whole = 0;
    while (at < text.size() && IsDigit(text[at])) {
        // Stop counting once past the range: leading zeros stay harmless and
        // no length of digits can overflow.
        whole = whole > kMaxScale ? whole : whole * 10 + (text[at] - '0');
        ++at;
    }
    if (at == 0) {
        return false;
    }
    int64_t fraction = 0;
    int64_t unit = kScaleDenominator;
    if (at < text.size()) {
        if (text[at] != '.') {
            return false;
        }
        const size_t first = ++at;
        while (at < text.size() && IsDigit(text[at]) && at - first < static_cast<size_t>(kScalePlaces)) {
            unit /= 10;
            fraction += unit * (text[at] - '0');
            ++at;
        }
        if (at == first || at != text.size()) {
            return false;
        }
    }
    if (whole > kMaxScale / kScaleDenominator) {
        return false;
    }
    value = whole * kScaleDenominator + fraction;
    return value <= kMaxScale;
}

}  // namespace

bool ParseScales(const std::string& text, std::vector<ScaleFactor>& scales, std::string& error) {
    std::vector<ScaleFactor> parsed;
    std::vector<int64_t> seen;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int64_t value = 0;
        if (!ParseTenThousandths(item, value) || value < kMinScale) {
            error = "--scale needs decimals from 0.01 to 16 with at most 4 places, separated by commas "
                    "(e.g. 1,0.5), not '" + item + "'";
            return false;
        }
        for (const int64_t earlier : seen) {
            if (earlier == value) {
                error = "--scale lists the same scale twice: '" + item + "'";
                return false;
            }
        }
        if (seen.size() == kMaxScaleCount) {
            error = "--scale takes at most " + std::to_string(kMaxScaleCount) + " scales";
            return false;
        }
        seen.push_back(value);
        const int64_t common = GreatestCommonDivisor(value, kScaleDenominator);
        parsed.push_back({static_cast<int32_t>(value / common), static_cast<int32_t>(kScaleDenominator / common)});
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    scales = std::move(parsed);
    return true;
}

bool ParseFilter(const std::string& text, ResampleFilter& filter, std::string& error) {
    if (text != "smooth" && text != "nearest") {
        error = "--filter is 'smooth' or 'nearest', not '" + text + "'";
        return false;
    }
    filter = text == "nearest" ? ResampleFilter::Nearest : ResampleFilter::Smooth;
    return true;
}

std::string ScaleText(ScaleFactor scale) {
    if (scale.numerator < 1 || scale.denominator < 1) {
        return "0";
    }
    const int64_t denominator = scale.denominator;
    std::string text = std::to_string(scale.numerator / denominator);
    int64_t rest = scale.numerator % denominator;
    if (rest != 0) {
        text += '.';
        for (int32_t place = 0; place < kScalePlaces && rest != 0; ++place) {
            rest *= 10;
            text += static_cast<char>('0' + rest / denominator);
            rest %= denominator;
        }
    }
    return text;
}

std::string ScaleSuffix(ScaleFactor scale) {
    if (scale.numerator < 1 || scale.denominator < 1 || scale.numerator == scale.denominator) {
        return "";
    }
    return "@" + ScaleText(scale) + "x";
}

}  // namespace Velmora::Commands
