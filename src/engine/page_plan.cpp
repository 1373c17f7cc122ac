// Frames over several pages. Each page is an ordinary atlas plan; what this
// adds is which frames share a page. Frames keep the page an earlier run
// gave them where they can, because engines such as Unity refer to a sprite
// by its page's identity, and a frame that changes page breaks every
// reference to it.
#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "velmora/packing.h"

namespace Velmora {
namespace {

struct Planner {
    const std::vector<Size2D>& sizes;
    const AtlasGeometry& geometry;
    PackerKind packer;
    int32_t shelfRowWidth;
    const Workers& workers;

    // Frames (indices, ascending) planned together.
    AtlasPlan Plan(const std::vector<size_t>& frames) const {
        std::vector<Size2D> chosen;
        chosen.reserve(frames.size());
        for (const size_t i : frames) {
            chosen.push_back(sizes[i]);
        }
        return PlanAtlas(chosen, geometry, packer, shelfRowWidth, workers);
    }
};

std::vector<size_t> Merged(const std::vector<size_t>& a, const std::vector<size_t>& b) {
    std::vector<size_t> out;
    out.reserve(a.size() + b.size());
    std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

// `frames` split by a plan's leftOut (indices into `frames`).
void Split(const std::vector<size_t>& frames, const std::vector<size_t>& leftOut, std::vector<size_t>& kept,
           std::vector<size_t>& rest) {
    size_t next = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (next < leftOut.size() && leftOut[next] == k) {
            rest.push_back(frames[k]);
            ++next;
        } else {
            kept.push_back(frames[k]);
        }
    }
}

struct Page {
    std::vector<size_t> frames;  // ascending
    AtlasPlan plan;
};

// One page: the `sticky` frames (an earlier run's page) first, then as
// many of `extra` as fit beside them. What does not fit goes to `rest`.
// False, with `failure` set, when no page could hold anything.
bool FillPage(const Planner& planner, const std::vector<size_t>& sticky, const std::vector<size_t>& extra,
              Page& page, std::vector<size_t>& rest, PlanFailure& failure) {
    const std::vector<size_t> all = Merged(sticky, extra);
    AtlasPlan plan = planner.Plan(all);
    if (plan.failure == PlanFailure::None) {
        page = Page{all, std::move(plan)};
        return true;
    }
    if (plan.failure != PlanFailure::FramesOutside) {
        failure = plan.failure;
        return false;
    }
    std::vector<size_t> kept;
    std::vector<size_t> left;
    Split(all, plan.leftOut, kept, left);
    const bool stickyKept = std::all_of(sticky.begin(), sticky.end(), [&kept](size_t i) {
        return std::binary_search(kept.begin(), kept.end(), i);
    });
    if (!stickyKept) {
        // The packer gave an earlier frame's place to a new one: keep the
        // earlier frames, then add new ones in order while they fit.
        AtlasPlan alone = planner.Plan(sticky);
        if (alone.failure == PlanFailure::None) {
            size_t low = 0;  // extra[0, low) fits with the sticky frames
            size_t high = extra.size();
            AtlasPlan best = std::move(alone);
            while (low < high) {
                const size_t middle = low + (high - low + 1) / 2;
                AtlasPlan trial = planner.Plan(Merged(sticky, {extra.begin(), extra.begin() + static_cast<std::ptrdiff_t>(middle)}));
                if (trial.failure == PlanFailure::None) {
                    low = middle;
                    best = std::move(trial);
                } else {
                    high = middle - 1;
                }
            }
            kept = Merged(sticky, {extra.begin(), extra.begin() + static_cast<std::ptrdiff_t>(low)});
            left.assign(extra.begin() + static_cast<std::ptrdiff_t>(low), extra.end());
            page = Page{std::move(kept), std::move(best)};
            rest = Merged(rest, left);
            return true;
        }
        // The earlier page no longer holds its own frames (a smaller
        // limit, larger frames): this page starts from them alone.
        kept.clear();
        left.clear();
        Split(sticky, alone.leftOut, kept, left);
        left = Merged(left, extra);
    }
    if (kept.empty()) {
        // Cannot happen for frames that each fit alone; taking one frame
        // keeps the loop finite whatever the packer does.
        kept.push_back(left.front());
        left.erase(left.begin());
    }
    // The packer searches layouts by the set's own sizes, so the frames one
    // layout held may not come out together again: leave out what this
    // plan leaves out until one holds. Each round drops at least one frame,
    // and one frame alone always fits.
    for (;;) {
        AtlasPlan tight = planner.Plan(kept);
        if (tight.failure == PlanFailure::None) {
            page = Page{std::move(kept), std::move(tight)};
            rest = Merged(rest, left);
            return true;
        }
        if (tight.failure != PlanFailure::FramesOutside || kept.size() < 2) {
            failure = tight.failure;
            return false;
        }
        std::vector<size_t> still;
        std::vector<size_t> dropped;
        Split(kept, tight.leftOut, still, dropped);
        if (dropped.empty() || still.empty()) {
            dropped.assign(1, kept.back());
            still.assign(kept.begin(), kept.end() - 1);
        }
        kept = std::move(still);
        left = Merged(left, dropped);
    }
}

PagesFailure FromPlan(PlanFailure failure) {
    switch (failure) {
    case PlanFailure::NoRoom:
        return PagesFailure::NoRoom;
    case PlanFailure::ShelfTooWide:
        return PagesFailure::ShelfTooWide;
    case PlanFailure::FramesOutside:
    case PlanFailure::None:
        break;
    }
    return PagesFailure::FramesOutside;
}

PagesPlan Failed(PagesFailure failure, std::vector<size_t> leftOut = {}) {
    PagesPlan plan;
    plan.failure = failure;
    plan.leftOut = std::move(leftOut);
    return plan;
}

// Pages as they are filled: each page's frames and plan, and the earlier
// page it carries on (set from its frames once the layout is chosen).
struct Layout {
    std::vector<std::vector<size_t>> members;
    std::vector<AtlasPlan> plans;
    std::vector<int64_t> continues;

    void Add(Page page) {
        members.push_back(std::move(page.frames));
        plans.push_back(std::move(page.plan));
        continues.push_back(-1);
    }
};

// A page per earlier page (its frames first), then pages of what is left.
bool FillPages(const Planner& planner, const std::map<int64_t, std::vector<size_t>>& earlier,
               std::vector<size_t> pending, Layout& layout, PlanFailure& failure) {
    for (const auto& entry : earlier) {
        Page page;
        std::vector<size_t> rest;
        if (!FillPage(planner, entry.second, pending, page, rest, failure)) return false;
        layout.Add(std::move(page));
        pending = std::move(rest);
    }
    while (!pending.empty()) {
        Page page;
        std::vector<size_t> rest;
        if (!FillPage(planner, {}, pending, page, rest, failure)) return false;
        layout.Add(std::move(page));
        pending = std::move(rest);
    }
    return true;
}

// Each page carries on the earlier page most of its frames were on (ties:
// the lower one), each earlier page at most once, pages claiming in order.
void ContinueByMajority(Layout& layout, const std::vector<int64_t>& previousPage) {
    std::set<int64_t> claimed;
    for (size_t p = 0; p < layout.members.size(); ++p) {
        std::map<int64_t, size_t> votes;
        for (const size_t i : layout.members[p]) {
            const int64_t was = i < previousPage.size() ? previousPage[i] : -1;
            if (was >= 0 && claimed.count(was) == 0) ++votes[was];
        }
        int64_t best = -1;
        size_t most = 0;
        for (const auto& [page, count] : votes) {
            if (count > most) {
                best = page;
                most = count;
            }
        }
        layout.continues[p] = best;
        if (best >= 0) claimed.insert(best);
    }
}

}  // namespace

PagesPlan PlanPages(const std::vector<Size2D>& frameSizes, const std::vector<int64_t>& previousPage,
                    const AtlasGeometry& geometry, PackerKind packer, int32_t shelfRowWidth, size_t maxPages,
                    const Workers& workers) {
    const Planner planner{frameSizes, geometry, packer, shelfRowWidth, workers};
    // A frame that fits no empty page would never be placed. Most frames
    // are far below the limit: their cells are measured, and only the rest
    // planned alone.
    const Size2D limit = AtlasLimit(geometry);
    const int64_t border = 2 * int64_t{geometry.extrude} + geometry.padding;
    std::vector<size_t> tooLarge;
    for (size_t i = 0; i < frameSizes.size(); ++i) {
        const Size2D& size = frameSizes[i];
        const bool small = size.w >= 1 && size.h >= 1 && geometry.padding + border + size.w <= limit.w &&
                           geometry.padding + border + size.h <= limit.h;
        if (small) continue;
        const AtlasPlan alone = planner.Plan({i});
        if (alone.failure == PlanFailure::FramesOutside) {
            tooLarge.push_back(i);
        } else if (alone.failure != PlanFailure::None) {
            return Failed(FromPlan(alone.failure));
        }
    }
    if (!tooLarge.empty()) {
        return Failed(PagesFailure::FramesOutside, std::move(tooLarge));
    }

    // Frames grouped by their earlier page, then the new ones: each earlier
    // page's frames fill a page, new frames taking what room is left.
    std::map<int64_t, std::vector<size_t>> earlier;  // earlier page -> its frames, ascending
    std::vector<size_t> pending;                     // frames new to the pages
    std::vector<size_t> all;
    for (size_t i = 0; i < frameSizes.size(); ++i) {
        const int64_t was = i < previousPage.size() ? previousPage[i] : -1;
        if (was >= 0) {
            earlier[was].push_back(i);
        } else {
            pending.push_back(i);
        }
        all.push_back(i);
    }
    Layout layout;
    PlanFailure failure = PlanFailure::None;
    if (!FillPages(planner, earlier, pending, layout, failure)) {
        return Failed(FromPlan(failure));
    }
    if (!earlier.empty()) {
        // Keeping every frame in place must not cost pages: when packing
        // afresh takes fewer, frames move, and each page carries on the
        // earlier page most of its frames come from.
        Layout fresh;
        if (!FillPages(planner, {}, all, fresh, failure)) {
            return Failed(FromPlan(failure));
        }
        if (fresh.members.size() < layout.members.size()) {
            layout = std::move(fresh);
        }
        // Whichever layout, a page's identity comes from the frames it
        // holds: a page filled for an earlier page's frames may have had
        // to give all of them up, and then that page lives on elsewhere.
        ContinueByMajority(layout, previousPage);
    }
    if (layout.members.empty()) {
        // No frames: one empty page, as a single atlas of nothing.
        AtlasPlan empty = planner.Plan({});
        if (empty.failure != PlanFailure::None) {
            return Failed(FromPlan(empty.failure));
        }
        layout.Add(Page{{}, std::move(empty)});
    }
    const std::vector<std::vector<size_t>>& members = layout.members;
    PagesPlan result;
    result.pages = std::move(layout.plans);
    result.continues = std::move(layout.continues);
    for (const std::vector<size_t>& page : members) {
        result.frames.push_back(page.size());
    }
    if (maxPages != 0 && result.pages.size() > maxPages) {
        std::vector<size_t> beyond;
        for (size_t p = maxPages; p < members.size(); ++p) {
            beyond.insert(beyond.end(), members[p].begin(), members[p].end());
        }
        std::sort(beyond.begin(), beyond.end());
        PagesPlan refused = Failed(PagesFailure::TooManyPages, std::move(beyond));
        refused.pages.resize(result.pages.size());
        return refused;
    }
    result.pageOf.assign(frameSizes.size(), 0);
    result.indexOnPage.assign(frameSizes.size(), 0);
    for (size_t p = 0; p < members.size(); ++p) {
        for (size_t k = 0; k < members[p].size(); ++k) {
            result.pageOf[members[p][k]] = p;
            result.indexOnPage[members[p][k]] = k;
        }
    }
    return result;
}

}  // namespace Velmora
