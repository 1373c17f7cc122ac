// --scale and --filter values, and the @Sx suffix of each variant's files
// as PixiJS reads it back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "atlas/scales.h"

namespace {

using Velmora::ResampleFilter;
using Velmora::ScaleFactor;
using Velmora::Commands::ParseFilter;
using Velmora::Commands::ParseScales;
using Velmora::Commands::ScaleSuffix;

std::string Fractions(const std::vector<ScaleFactor>& scales) {
    std::string text;
    for (const ScaleFactor& scale : scales) {
        text += std::to_string(scale.numerator) + "/" + std::to_string(scale.denominator) + " ";
    }
    return text;
}

// What PixiJS's resolution pattern /@([0-9\.]+)x/ captures first in `url`
// (parseFloat of it), or 1 when nothing matches.
double ResolutionOfUrl(const std::string& url) {
    for (size_t at = url.find('@'); at != std::string::npos; at = url.find('@', at + 1)) {
        size_t end = at + 1;
        while (end < url.size() && ((url[end] >= '0' && url[end] <= '9') || url[end] == '.')) {
            ++end;
        }
        if (end > at + 1 && end < url.size() && url[end] == 'x') {
            return std::strtod(url.substr(at + 1, end - at - 1).c_str(), nullptr);
        }
    }
    return 1.0;
}

TEST(ScaleOption, ReadsDecimalsInTheOrderGivenInLowestTerms) {
    struct Case {
        const char* text;
        const char* fractions;
    };
    const Case cases[] = {
        {"1", "1/1 "},
        {"1,0.5", "1/1 1/2 "},
        {"2,1", "2/1 1/1 "},
        {"0.25,1.5,16,0.01", "1/4 3/2 16/1 1/100 "},
        {"0.0125", "1/80 "},
        {"0.50", "1/2 "},
        {"1.0", "1/1 "},
        {"016", "16/1 "},
        {"0.3333,0.7", "3333/10000 7/10 "},
        {"16.0000", "16/1 "},
    };
    for (const Case& c : cases) {
        std::vector<ScaleFactor> scales = {{3, 4}};  // replaced, not added to
        std::string error;
        EXPECT_TRUE(ParseScales(c.text, scales, error)) << c.text << ": " << error;
        EXPECT_EQ(Fractions(scales), c.fractions) << c.text;
    }
}

TEST(ScaleOption, RefusesWhatIsNotAListOfDistinctDecimalsInRange) {
    struct Case {
        std::string text;
        std::string error;
    };
    const std::string range = "--scale needs decimals from 0.01 to 16 with at most 4 places, separated by "
                              "commas (e.g. 1,0.5), not ";
    const Case cases[] = {
        {"", range + "''"},
        {",", range + "''"},
        {"1,", range + "''"},
        {",1", range + "''"},
        {"1,,2", range + "''"},
        {"0", range + "'0'"},
        {"0.0099", range + "'0.0099'"},
        {"16.0001", range + "'16.0001'"},
        {"17", range + "'17'"},
        {"99999999999999999999999", range + "'99999999999999999999999'"},
        {"-1", range + "'-1'"},
        {"+1", range + "'+1'"},
        {"1e1", range + "'1e1'"},
        {" 1", range + "' 1'"},
        {"1 ", range + "'1 '"},
        {".5", range + "'.5'"},
        {"1.", range + "'1.'"},
        {"0.12345", range + "'0.12345'"},
        {"0x1", range + "'0x1'"},
        {"1;2", range + "'1;2'"},
        {"inf", range + "'inf'"},
        {"1,0.5,1..5", range + "'1..5'"},
        {"0.5,1,0.50", "--scale lists the same scale twice: '0.50'"},
        {"1,1.0", "--scale lists the same scale twice: '1.0'"},
        {"1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,0.5", "--scale takes at most 16 scales"},
    };
    for (const Case& c : cases) {
        std::vector<ScaleFactor> scales = {{3, 4}};
        std::string error;
        EXPECT_FALSE(ParseScales(c.text, scales, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(Fractions(scales), "3/4 ") << "left untouched after '" << c.text << "'";
    }
    std::vector<ScaleFactor> sixteen;
    std::string error;
    EXPECT_TRUE(ParseScales("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16", sixteen, error)) << error;
    EXPECT_EQ(sixteen.size(), 16U);
}

TEST(FilterOption, NamesTheTwoFilters) {
    struct Case {
        const char* text;
        bool valid;
        ResampleFilter filter;
    };
    const Case cases[] = {
        {"smooth", true, ResampleFilter::Smooth}, {"nearest", true, ResampleFilter::Nearest},
        {"Nearest", false, ResampleFilter::Smooth}, {"", false, ResampleFilter::Smooth},
        {"box", false, ResampleFilter::Smooth},    {"nearest ", false, ResampleFilter::Smooth},
    };
    for (const Case& c : cases) {
        // Start from the other filter so an untouched value shows.
        ResampleFilter filter = c.filter == ResampleFilter::Smooth ? ResampleFilter::Nearest : ResampleFilter::Smooth;
        const ResampleFilter before = filter;
        std::string error;
        EXPECT_EQ(ParseFilter(c.text, filter, error), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(filter, c.filter) << c.text;
        } else {
            EXPECT_EQ(filter, before) << c.text;
            EXPECT_EQ(error, "--filter is 'smooth' or 'nearest', not '" + std::string(c.text) + "'");
        }
    }
}

TEST(ScaleSuffix, WritesTheShortestDecimal) {
    struct Case {
        ScaleFactor scale;
        const char* suffix;
    };
    const Case cases[] = {
        {{1, 1}, ""},          {{4, 4}, ""},          {{1, 2}, "@0.5x"},      {{2, 1}, "@2x"},
        {{3, 2}, "@1.5x"},     {{1, 4}, "@0.25x"},    {{1, 80}, "@0.0125x"},  {{16, 1}, "@16x"},
        {{1, 100}, "@0.01x"},  {{3333, 10000}, "@0.3333x"}, {{101, 100}, "@1.01x"}, {{1, 3}, "@0.3333x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScaleSuffix(c.scale), c.suffix) << c.scale.numerator << "/" << c.scale.denominator;
    }
}

TEST(ScaleSuffix, EveryScaleReadsBackAsItsOwnValue) {
    // Every value --scale accepts: the file name's suffix is what PixiJS
    // takes as the resolution, and no two scales share a suffix.
    for (int32_t value = Velmora::Commands::kMinScale; value <= Velmora::Commands::kMaxScale; ++value) {
        std::string text = std::to_string(value / 10000);
        if (value % 10000 != 0) {
            std::string places = std::to_string(10000 + value % 10000).substr(1);
            text += "." + places;
        }
        std::vector<ScaleFactor> scales;
        std::string error;
        ASSERT_TRUE(ParseScales(text, scales, error)) << text << ": " << error;
        const std::string suffix = ScaleSuffix(scales[0]);
        const double expected = value / 10000.0;
        if (value == 10000) {
            ASSERT_EQ(suffix, "");
            continue;
        }
        ASSERT_EQ(ResolutionOfUrl("sprites/atlas" + suffix + ".png"), expected) << text << " gave " << suffix;
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), expected) << text;
        // Shortest: no trailing zero or point, no leading zero but one.
        const std::string digits = suffix.substr(1, suffix.size() - 2);
        if (digits.find('.') != std::string::npos) {
            ASSERT_NE(digits.back(), '0') << suffix;
            ASSERT_NE(digits.back(), '.') << suffix;
        }
        ASSERT_FALSE(digits.size() > 1 && digits[0] == '0' && digits[1] != '.') << suffix;
    }
}

}  // namespace
