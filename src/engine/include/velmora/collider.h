// Collision polygons traced from an image's alpha mask.
#ifndef VELMORA_COLLIDER_H
#define VELMORA_COLLIDER_H

#include <cstdint>
#include <vector>

#include "velmora/image.h"

namespace Velmora {

// Collision polygons of one image's alpha mask, one per solid region, ready
// for physics engines that want simple polygons.
//
// A pixel is solid when its alpha (bits 24-31) is >= `alphaThreshold`.
// Regions are 4-connected: pixels that touch only at a corner belong to
// different regions. Each region's polygon is its outer contour: the
// boundary of the region with its own holes filled, where a hole is a part
// of the rest of the image (other regions' pixels included), 4-connected,
// that the region walls off from the image border. So a ring gives one
// disc, a region touching itself at a corner around a hole gives one
// polygon around both, and each pixel of a checkerboard gives its unit
// square. A region lying in another's hole has its own polygon, inside that
// one: polygons may nest and, after simplification, overlap. No region is
// dropped; the smallest, a single pixel, gives its unit square.
//
// Each polygon starts at the top-left corner of its region's first pixel in
// row-major order, and polygons come in that order. Points are pixel
// corners: integers in [0, width] x [0, height]. Every polygon
//   - has at least 3 points, no two equal;
//   - is simple: no two of its edges meet except neighbours at their shared
//     point (neighbours never overlap); different polygons may touch, cross
//     or nest;
//   - runs clockwise on screen (y down), so its shoelace sum
//     sum(x[i] * y[i+1] - x[i+1] * y[i]) is positive;
//   - keeps a subset of its outer contour's corners: each dropped corner
//     lies within `tolerance` pixels of the edge that replaces it, the
//     contour runs forward along that edge, and all replacements together
//     change at most 1/42 of the region's own pixel count (holes not
//     counted), so the polygons' union covers the union of the filled
//     regions with an intersection-over-union of at least 41/43 (0.953) at
//     any tolerance, and each polygon its filled region likewise. Where a
//     replacement would make the polygon meet itself, the corners it
//     dropped are kept.
// Tolerance 0, a negative tolerance and NaN keep every corner: the polygons
// are the filled regions' exact outlines (only corners where the outline
// turns). A large or infinite tolerance simplifies as far as the area
// budget allows. Comparisons with the tolerance and the budget are in
// single precision, the same on every platform.
//
// Time and memory are linear in the pixel count: one byte of flags per
// pixel of the image framed by one pixel on each side (256 MiB at the
// largest size, 16384 x 16384; 64 MiB for an 8192 x 8192 frame), a flood
// fill stack of at most two entries per row run of one region, and work
// proportional to the outlines' length (simplification handles outlines in
// pieces of at most 256 edges). Each region is flood-filled twice (to label
// it, then to retire it) and its outer contour walked once.
//
// Returns no polygons when the image is invalid or has no solid pixel.
std::vector<std::vector<Point2D>> TraceColliderPolygons(const Image& image, uint8_t alphaThreshold,
                                                        float tolerance);

}  // namespace Velmora

#endif  // VELMORA_COLLIDER_H
