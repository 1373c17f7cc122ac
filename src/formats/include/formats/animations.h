// The animations a sheet's frame names describe, shared by every document
// that lists animations (the JSON "animations" map, the Godot
// SpriteFrames), so they always name the same sequences.
#ifndef VELMORA_FORMATS_ANIMATIONS_H
#define VELMORA_FORMATS_ANIMATIONS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Velmora::Formats {

// How a layered sprite file's tag plays its frames.
enum class PlayDirection { Forward, Reverse, PingPong, PingPongReverse };

struct Animation {
    std::string name;
    std::vector<size_t> frames;  // indices into the names grouped: one pass, in play order
    // From a layered sprite file: its frames carry their own times, and
    // the animation plays `repeat` times, a ping-pong counting each one-way
    // run (0: without end). Name sequences play at a fixed rate, looping.
    bool timed = false;
    PlayDirection direction = PlayDirection::Forward;
    int32_t repeat = 0;
};

// A tag of a layered sprite file: frames `from` to `to` (numbers in the
// file, inclusive), played in `direction`, `repeat` times (0: without end).
struct FrameTag {
    std::string name;
    int32_t from = 0;
    int32_t to = 0;
    PlayDirection direction = PlayDirection::Forward;
    int32_t repeat = 0;
};

// A layered sprite file among the names grouped: the name its animations
// start with ("hero"), the index of its frame number k at frames[k] (a
// number the set lacks holds SIZE_MAX and is left out), and its tags.
struct SpriteSource {
    std::string name;
    std::vector<size_t> frames;
    std::vector<FrameTag> tags;
};

// Groups frame names (the documents' names: distinct) into animations.
//
// A name ending in ASCII digits is STEM, an optional separator ('_', '-',
// '.', ' ' or '/'), then the number; STEM must not be empty. Two or more
// names with the same STEM and the same separator (or both none) form a
// sequence named STEM, ordered by the number's value (leading zeros
// ignored), equal values in bytewise name order. Every other name is an
// animation of one frame under its own name.
//
// Animation names are unique: a sequence keeps its STEM, and a name wanted
// by more than one animation goes first to the sequence whose STEM and
// separator sort first bytewise; every other claimant (a still frame named
// exactly as a sequence, or a sequence with another separator) gets
// "~2", "~3", ..., skipping names already wanted.
//
// Every frame is in exactly one animation; animations come in bytewise
// order of name.
std::vector<Animation> GroupAnimations(const std::vector<std::string>& names);

// The same where some names are frames of layered sprite files: each tag
// of a file is a timed animation "FILE/TAG", its frames expanded for one
// pass in its direction (forward a..b; reverse b..a; ping-pong a..b then
// b-1..a+1; ping-pong reverse b..a then a+1..b-1); a file without tags is
// one animation "FILE" of all its frames, forward and without end. Those
// frames take no part in the grouping by name, and need not all be in an
// animation. The files' animations claim their names first, in the order
// given, then the sequences and the single frames as above.
std::vector<Animation> GroupAnimations(const std::vector<std::string>& names,
                                       const std::vector<SpriteSource>& sources);

// The frames an animation shows from its start to its end: one pass for
// one without end (it then starts again), else its pass `repeat` times,
// a ping-pong turning back at each end without showing the end twice.
std::vector<size_t> PlayedFrames(const Animation& animation);

}  // namespace Velmora::Formats

#endif  // VELMORA_FORMATS_ANIMATIONS_H
