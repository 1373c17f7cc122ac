// Animations from frame names, the way artists number their files:
// "books-01".."books-05", "capguy/walk/0001".., "run1".."run10". Only ASCII
// digits make a number, so a name means the same on every system and in
// every locale.
#include "formats/animations.h"

#include <algorithm>
#include <cstdint>
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
    bool timed = false;
    PlayDirection direction = PlayDirection::Forward;
    int32_t repeat = 0;
};

// The frames numbered from..to of a file, in `direction`, for one pass:
// a ping-pong comes back without showing either end twice.
std::vector<size_t> TagPass(const SpriteSource& source, int32_t from, int32_t to, PlayDirection direction) {
    std::vector<int32_t> numbers;
    const bool backwards = direction == PlayDirection::Reverse || direction == PlayDirection::PingPongReverse;
    for (int32_t k = from; k <= to; ++k) numbers.push_back(k);
    if (backwards) std::reverse(numbers.begin(), numbers.end());
    if (direction == PlayDirection::PingPong || direction == PlayDirection::PingPongReverse) {
        const size_t run = numbers.size();
        numbers.reserve(2 * run);
        for (size_t i = run == 0 ? 0 : run - 1; i-- > 1;) numbers.push_back(numbers[i]);
    }
    std::vector<size_t> frames;
    for (const int32_t k : numbers) {
        const auto at = static_cast<size_t>(k);
        if (k >= 0 && at < source.frames.size() && source.frames[at] != SIZE_MAX) frames.push_back(source.frames[at]);
    }
    return frames;
}

// A file's animations: one per tag, or one of every frame without tags.
std::vector<Claim> FileClaims(const SpriteSource& source) {
    std::vector<Claim> claims;
    if (source.tags.empty()) {
        const auto last = static_cast<int32_t>(source.frames.size()) - 1;
        claims.push_back({source.name, TagPass(source, 0, last, PlayDirection::Forward), true,
                          PlayDirection::Forward, 0});
    }
    for (const FrameTag& tag : source.tags) {
        claims.push_back({source.name + "/" + tag.name, TagPass(source, tag.from, tag.to, tag.direction), true,
                          tag.direction, tag.repeat});
    }
    // A tag none of whose frames the set holds names nothing to play.
    claims.erase(std::remove_if(claims.begin(), claims.end(), [](const Claim& c) { return c.frames.empty(); }),
                 claims.end());
    return claims;
}

}  // namespace

std::vector<Animation> GroupAnimations(const std::vector<std::string>& names) { return GroupAnimations(names, {}); }

std::vector<Animation> GroupAnimations(const std::vector<std::string>& names,
                                       const std::vector<SpriteSource>& sources) {
    // The files' animations first: their names are the artist's own.
    std::vector<Claim> claims;
    std::vector<bool> inFile(names.size(), false);
    for (const SpriteSource& source : sources) {
        for (const size_t f : source.frames) {
            if (f < names.size()) inFile[f] = true;
        }
        for (Claim& claim : FileClaims(source)) claims.push_back(std::move(claim));
    }

    // Numbered names by everything before the number (stem and separator):
    // "hero_1" and "hero-1" are different things, not two first frames.
    std::map<std::string, std::vector<size_t>> byPrefix;
    std::vector<size_t> singles;
    for (size_t i = 0; i < names.size(); ++i) {
        if (inFile[i]) continue;
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
        out.push_back({std::move(name), std::move(c.frames), c.timed, c.direction, c.repeat});
    }
    std::sort(out.begin(), out.end(),
              [](const Animation& a, const Animation& b) { return a.name < b.name; });
    return out;
}

std::vector<size_t> PlayedFrames(const Animation& animation) {
    const std::vector<size_t>& pass = animation.frames;
    if (animation.repeat <= 0 || pass.empty()) return pass;
    const bool pingPong =
        animation.direction == PlayDirection::PingPong || animation.direction == PlayDirection::PingPongReverse;
    // A ping-pong's pass is two one-way runs of pass.size() / 2 steps
    // each; a run of n > 1 frames adds n - 1 to what came before.
    const size_t runs = static_cast<size_t>(animation.repeat);
    const size_t length = !pingPong ? runs * pass.size() : pass.size() == 1 ? 1 : runs * (pass.size() / 2) + 1;
    std::vector<size_t> played;
    played.reserve(length);
    for (size_t i = 0; i < length; ++i) played.push_back(pass[i % pass.size()]);
    return played;
}

}  // namespace Velmora::Formats
