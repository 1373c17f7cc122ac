// Animations from frame names, the way artists number their files:
// "books-01".."books-05", "capguy/walk/0001".., "run1".."run10". Only ASCII
// digits make a number, so a name means the same on every system and in
// every locale.
#include "formats/animations.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace Velmora::Formats {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSeparator(char c) { return c == '_' || c == '-' || c == '.' || c == ' ' || c == '/'; }

// Numbers of any length by value: without leading zeros, the longer one is
// greater, equal lengths compare digit by digit.
bool NumberLess(const std::string& a, const std::string& b) {
    const size_t za = std::min(a.find_first_not_of('0'), a.size());
    const size_t zb = std::min(b.find_first_not_of('0'), b.size());
    const size_t la = a.size() - za;
    const size_t lb = b.size() - zb;
    if (la != lb) return la < lb;
    return a.compare(za, la, b, zb, lb) < 0;
}

// An animation and the name it asks for.
struct Claim {
    std::string wanted;
    std::vector<size_t> frames;
};

}  // namespace

std::vector<Animation> GroupAnimations(const std::vector<std::string>& names) {
    // Numbered names by everything before the number (stem and separator):
    // "hero_1" and "hero-1" are different things, not two first frames.
    std::map<std::string, std::vector<size_t>> byPrefix;
    std::vector<size_t> singles;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        size_t cut = name.size();
        while (cut > 0 && IsDigit(name[cut - 1])) --cut;
        const bool numbered = cut < name.size();
        const size_t stemEnd = numbered && cut > 0 && IsSeparator(name[cut - 1]) ? cut - 1 : cut;
        if (!numbered || stemEnd == 0) {
            singles.push_back(i);
        } else {
            byPrefix[name.substr(0, cut)].push_back(i);
        }
    }

    // Sequences claim their names before single frames, in prefix order.
    std::vector<Claim> claims;
    for (auto& [prefix, members] : byPrefix) {
        if (members.size() < 2) {
            singles.push_back(members.front());
            continue;
        }
        const size_t cut = prefix.size();
        std::sort(members.begin(), members.end(), [&](size_t a, size_t b) {
            const std::string na = names[a].substr(cut);
            const std::string nb = names[b].substr(cut);
            if (NumberLess(na, nb)) return true;
            if (NumberLess(nb, na)) return false;
            return names[a] < names[b];
        });
        const bool separated = IsSeparator(prefix.back());
        claims.push_back({prefix.substr(0, separated ? cut - 1 : cut), members});
    }
    std::sort(singles.begin(), singles.end());
    for (const size_t i : singles) claims.push_back({names[i], {i}});

    std::set<std::string> wanted;
    for (const Claim& c : claims) wanted.insert(c.wanted);
    std::set<std::string> given;
    std::vector<Animation> out;
    out.reserve(claims.size());
    for (Claim& c : claims) {
        std::string name = c.wanted;
        // A suffixed name is one nobody asked for, so no later claim loses its own.
        for (unsigned k = 1; given.count(name) != 0 || (k > 1 && wanted.count(name) != 0);) {
            name = c.wanted + "~" + std::to_string(++k);
        }
        given.insert(name);
        out.push_back({std::move(name), std::move(c.frames)});
    }
    std::sort(out.begin(), out.end(),
              [](const Animation& a, const Animation& b) { return a.name < b.name; });
    return out;
}

}  // namespace Velmora::Formats
