// How frame names become animations: the naming schemes found in real
// sprite folders, each with the animations it must give in document order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "formats/animations.h"

using Velmora::Formats::Animation;
using Velmora::Formats::GroupAnimations;

namespace {

using Listing = std::vector<std::pair<std::string, std::vector<std::string>>>;

// The animations as names: each animation's name and its frames' names.
Listing Group(const std::vector<std::string>& names) {
    Listing out;
    for (const Animation& a : GroupAnimations(names)) {
        std::vector<std::string> frames;
        for (const size_t i : a.frames) frames.push_back(i < names.size() ? names[i] : "<no such frame>");
        out.emplace_back(a.name, frames);
    }
    return out;
}

// prefix + first..last, zero-padded to `width` digits.
std::vector<std::string> Run(const std::string& prefix, int first, int last, size_t width) {
    std::vector<std::string> out;
    for (int n = first; n <= last; ++n) {
        std::string digits = std::to_string(n);
        if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
        out.push_back(prefix + digits);
    }
    return out;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    const char* what;
    std::vector<std::string> names;
    Listing expected;
};

const std::string kWalk = "\xE6\xAD\xA9\xE3\x81\x8F";            // a stem in Japanese
const std::string kFullwidthOne = "\xEF\xBC\x91";                // U+FF11, not an ASCII digit
const std::string kFullwidthTwo = "\xEF\xBC\x92";

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"dash and zero padding", Run("books-", 1, 5, 2), {{"books", Run("books-", 1, 5, 2)}}},
        {"folder as separator", Run("capguy/walk/", 1, 4, 4), {{"capguy/walk", Run("capguy/walk/", 1, 4, 4)}}},
        {"digits without siblings", {"fish-136x80"}, {{"fish-136x80", {"fish-136x80"}}}},
        {"separator and digit without siblings", {"drape_1"}, {{"drape_1", {"drape_1"}}}},
        {"still beside its sequence keeps out, the sequence keeps the name",
         Join({"lazer"}, Run("lazer_", 0, 22, 2)),
         {{"lazer", Run("lazer_", 0, 22, 2)}, {"lazer~2", {"lazer"}}}},
        {"still and one numbered variant", {"crate", "crate32"}, {{"crate", {"crate"}}, {"crate32", {"crate32"}}}},
        {"still and one rotated variant", {"car", "car90"}, {{"car", {"car"}}, {"car90", {"car90"}}}},
        {"numeric order", {"run_10", "run_9", "run_2", "run_1"}, {{"run", {"run_1", "run_2", "run_9", "run_10"}}}},
        {"equal values in bytewise order, both kept", {"walk_2", "walk_1", "walk_01"},
         {{"walk", {"walk_01", "walk_1", "walk_2"}}}},
        {"zero padding of different widths", {"z_0020", "z_011", "z_3"}, {{"z", {"z_3", "z_011", "z_0020"}}}},
        {"no separator", {"idle3", "idle1", "idle2"}, {{"idle", {"idle1", "idle2", "idle3"}}}},
        {"dot separator", {"fx.2", "fx.1"}, {{"fx", {"fx.1", "fx.2"}}}},
        {"space separator", {"jump 2", "jump 1"}, {{"jump", {"jump 1", "jump 2"}}}},
        {"top-level numbers have no stem", {"007", "008", "_5", "_6", "-1"},
         {{"-1", {"-1"}}, {"007", {"007"}}, {"008", {"008"}}, {"_5", {"_5"}}, {"_6", {"_6"}}}},
        {"non-ASCII stem", {kWalk + "_02", kWalk + "_01"}, {{kWalk, {kWalk + "_01", kWalk + "_02"}}}},
        {"fullwidth digits are not a number", {kWalk + kFullwidthOne, kWalk + kFullwidthTwo},
         {{kWalk + kFullwidthOne, {kWalk + kFullwidthOne}}, {kWalk + kFullwidthTwo, {kWalk + kFullwidthTwo}}}},
        {"another separator is another sequence", {"hero_1", "hero_2", "hero-1"},
         {{"hero", {"hero_1", "hero_2"}}, {"hero-1", {"hero-1"}}}},
        {"two sequences of one stem: the first prefix keeps the name", {"run_1", "run_2", "run1", "run2"},
         {{"run", {"run1", "run2"}}, {"run~2", {"run_1", "run_2"}}}},
        {"suffixes skip names a frame already has", {"x", "x_1", "x_2", "x~2"},
         {{"x", {"x_1", "x_2"}}, {"x~2", {"x~2"}}, {"x~3", {"x"}}}},
        {"a numbered still named as a sequence", {"lvl2", "lvl2_1", "lvl2_2"},
         {{"lvl2", {"lvl2_1", "lvl2_2"}}, {"lvl2~2", {"lvl2"}}}},
        {"one separator removed", {"a__1", "a__2"}, {{"a_", {"a__1", "a__2"}}}},
        {"ends in a separator, no digits", {"x_", "x-"}, {{"x-", {"x-"}}, {"x_", {"x_"}}}},
        {"numbers beyond 64 bits", {"big100000000000000000000", "big99999999999999999999"},
         {{"big", {"big99999999999999999999", "big100000000000000000000"}}}},
        {"inside folders", {"enemies/bat_1", "enemies/bat_0", "enemies/bat"},
         {{"enemies/bat", {"enemies/bat_0", "enemies/bat_1"}}, {"enemies/bat~2", {"enemies/bat"}}}},
        {"animations in bytewise name order", {"b_1", "b_2", "a", "B"},
         {{"B", {"B"}}, {"a", {"a"}}, {"b", {"b_1", "b_2"}}}},
        {"no frames", {}, {}},
    };
    return cases;
}

TEST(GroupAnimations, NamingSchemes) {
    for (const Case& c : Cases()) {
        EXPECT_EQ(Group(c.names), c.expected) << c.what;
        // Sheets list frames in name order, but the result must not lean on it.
        std::vector<std::string> reversed(c.names.rbegin(), c.names.rend());
        EXPECT_EQ(Group(reversed), c.expected) << c.what << " (reversed input)";
    }
}

// Value of a name's trailing ASCII digits (small numbers only).
uint64_t TrailingNumber(const std::string& name) {
    size_t cut = name.size();
    while (cut > 0 && name[cut - 1] >= '0' && name[cut - 1] <= '9') --cut;
    return cut == name.size() ? 0 : std::stoull(name.substr(cut));
}

// Random mixes of names built to collide: every frame in exactly one
// animation, names unique and sorted, sequences in numeric order.
TEST(GroupAnimations, EveryFrameOnceAndNamesUnique) {
    std::vector<std::string> pool;
    for (const char* stem : {"a", "a_", "a~2", "b", "lvl2"}) {
        for (const char* sep : {"", "_", "-", "/"}) {
            for (const char* number : {"", "1", "01", "2", "10"}) {
                if (*sep != '\0' && *number == '\0') continue;
                pool.push_back(std::string(stem) + sep + number);
            }
        }
    }
    std::sort(pool.begin(), pool.end());
    pool.erase(std::unique(pool.begin(), pool.end()), pool.end());
    uint32_t state = 12345;
    for (int round = 0; round < 500; ++round) {
        std::vector<std::string> names;
        for (const std::string& name : pool) {
            state = state * 1664525U + 1013904223U;
            if ((state >> 29U) < 3U) names.push_back(name);
        }
        const std::vector<Animation> animations = GroupAnimations(names);
        std::vector<int> seen(names.size(), 0);
        for (size_t a = 0; a < animations.size(); ++a) {
            ASSERT_FALSE(animations[a].frames.empty());
            if (a > 0) {
                EXPECT_LT(animations[a - 1].name, animations[a].name) << "round " << round;
            }
            for (size_t k = 0; k < animations[a].frames.size(); ++k) {
                const size_t i = animations[a].frames[k];
                ASSERT_LT(i, names.size());
                ++seen[i];
                if (k > 0) {
                    EXPECT_LE(TrailingNumber(names[animations[a].frames[k - 1]]), TrailingNumber(names[i]))
                        << animations[a].name;
                }
            }
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(names.size())) << "round " << round;
    }
}

}  // namespace
