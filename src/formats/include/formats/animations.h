// The animations a sheet's frame names describe, shared by every document
// that lists animations (the JSON "animations" map, the Godot
// SpriteFrames), so they always name the same sequences.
#ifndef VELMORA_FORMATS_ANIMATIONS_H
#define VELMORA_FORMATS_ANIMATIONS_H

#include <cstddef>
#include <string>
#include <vector>

namespace Velmora::Formats {

struct Animation {
    std::string name;
    std::vector<size_t> frames;  // indices into the names grouped, in play order
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

}  // namespace Velmora::Formats

#endif  // VELMORA_FORMATS_ANIMATIONS_H
