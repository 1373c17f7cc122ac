// The MaxRects search: which bin widths, frame orders and placement rules to
// try, and which pass wins.
//
// Passes are independent, so a caller with threads may run several at once:
// every pass is a task, taken in whatever order the caller's threads take
// them. A pass is cut short once it is sure to be larger than the best
// finished pass among those before it in order, on whichever thread that one
// ran. The records are then read in order as one loop over every pass would
// have seen them. A pass's bound comes from passes the loop saw before it,
// so it is never tighter than the loop's: what a thread cut short the loop
// would have cut short too, and the loop's verdict (the winner, the widths
// kept for the second round, the frames left out) can be read from the
// records exactly, the same for any threads and any timing.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include "maxrects_internal.h"
#include "velmora/packing.h"

namespace Velmora {
namespace {

using MaxRects::Area;
using MaxRects::Better;
using MaxRects::Heuristic;
using MaxRects::kNoArea;
using MaxRects::Order;
using MaxRects::Outcome;


struct Combination {
    Order order;
    Heuristic heuristic;
};

struct Pass {
    int32_t width;
    Combination combination;
};

// What one pass gave.
struct Record {
    bool cut = false;  // stopped once sure to be larger than its bound
    // Complete or not; its positions only when every frame was placed.
    Outcome outcome;
};

// Runs passes and keeps the best complete one, or failing that the fewest
// frames left out, as one loop over the passes in order keeps them.
class Search {
public:
    Search(const std::vector<Size2D>& sizes, const std::vector<size_t>& valid, int32_t binHeight, bool powerOfTwo,
           const Workers& workers)
        : sizes_(sizes), valid_(valid), binHeight_(binHeight), powerOfTwo_(powerOfTwo), workers_(workers),
          orders_(5) {}

    bool HaveBest() const { return haveBest_; }
    const Outcome& Best() const { return best_; }
    size_t FewestUnplaced() const { return fewestUnplaced_; }
    const std::vector<size_t>& FewestLeftOut() const { return fewestLeftOut_; }

    // Each pass's atlas area, or kNoArea when it was cut short or left
    // frames out.
    std::vector<int64_t> Run(const std::vector<Pass>& passes) {
        for (const Pass& pass : passes) {
            std::vector<size_t>& order = orders_[static_cast<size_t>(pass.combination.order)];
            if (order.empty()) {
                order = MaxRects::SortedOrder(sizes_, valid_, pass.combination.order);
            }
        }
        std::vector<Record> records(passes.size());
        // Each complete pass's area once it has finished, for the passes
        // after it to be bounded by.
        const std::unique_ptr<std::atomic<int64_t>[]> finished(new std::atomic<int64_t>[passes.size()]);
        for (size_t k = 0; k < passes.size(); ++k) {
            finished[k].store(kNoArea, std::memory_order_relaxed);
        }
        const auto pass = [&](size_t k) { RunPass(passes, k, finished.get(), records[k]); };
        if (workers_.run && workers_.count > 1 && passes.size() > 1) {
            workers_.run(passes.size(), pass);
        } else {
            for (size_t k = 0; k < passes.size(); ++k) pass(k);
        }
        std::vector<int64_t> areas(passes.size(), kNoArea);
        Merge(records, areas);
        return areas;
    }

private:
    // Reads the records in order as the one loop would have seen the
    // passes, setting their areas.
    void Merge(std::vector<Record>& records, std::vector<int64_t>& areas) {
        for (size_t k = 0; k < records.size(); ++k) {
            Record& record = records[k];
            if (record.cut) continue;
            Outcome& outcome = record.outcome;
            if (outcome.unplaced > 0) {
                if (outcome.unplaced < fewestUnplaced_) {
                    fewestUnplaced_ = outcome.unplaced;
                    fewestLeftOut_ = std::move(outcome.leftOut);
                }
                continue;
            }
            // The one loop's bound would have cut it short.
            if (haveBest_ && Area(outcome) > Area(best_)) continue;
            areas[k] = Area(outcome);
            if (!haveBest_ || Better(outcome, best_)) {
                best_ = std::move(outcome);
                haveBest_ = true;
            }
        }
    }

    // Pass `k`, bounded by the best before the search and the best pass
    // before it that has finished, on whichever thread.
    void RunPass(const std::vector<Pass>& passes, size_t k, std::atomic<int64_t>* finished, Record& record) const {
        int64_t bound = haveBest_ ? Area(best_) : kNoArea;
        for (size_t j = 0; j < k; ++j) {
            bound = std::min(bound, finished[j].load(std::memory_order_relaxed));
        }
        const Pass& pass = passes[k];
        const std::vector<size_t>& order = orders_[static_cast<size_t>(pass.combination.order)];
        Outcome& trial = record.outcome;
        if (!MaxRects::RunPass(sizes_, order, pass.width, binHeight_, pass.combination.heuristic, powerOfTwo_, bound,
                               trial)) {
            record.cut = true;
            trial = Outcome{};
            return;
        }
        if (trial.unplaced > 0) {
            trial.positions.clear();
        } else {
            // Any complete pass may turn out the loop's best: it keeps its
            // positions.
            trial.leftOut.clear();
            finished[k].store(Area(trial), std::memory_order_relaxed);
        }
    }

    const std::vector<Size2D>& sizes_;
    const std::vector<size_t>& valid_;
    int32_t binHeight_;
    bool powerOfTwo_;
    const Workers& workers_;
    std::vector<std::vector<size_t>> orders_;  // sorted before a run needs them
    bool haveBest_ = false;
    Outcome best_;
    size_t fewestUnplaced_ = std::numeric_limits<size_t>::max();
    std::vector<size_t> fewestLeftOut_;
};

}  // namespace

RectPlacement PackRectsMaxRects(const std::vector<Size2D>& sizes, int32_t maxWidth, int32_t maxHeight,
                                bool powerOfTwo, const Workers& workers) {
    RectPlacement result;
    if (maxWidth < 1 || maxHeight < 1) {
        result.unplaced = sizes.size();
        result.leftOut.resize(sizes.size());
        std::iota(result.leftOut.begin(), result.leftOut.end(), size_t{0});
        return result;
    }
    // A power-of-two atlas must itself stay within the limits.
    const int32_t limitWidth = powerOfTwo ? MaxRects::RoundDownPowerOfTwo(maxWidth) : maxWidth;
    const int32_t limitHeight = powerOfTwo ? MaxRects::RoundDownPowerOfTwo(maxHeight) : maxHeight;

    std::vector<size_t> valid;
    size_t invalid = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Size2D& s = sizes[i];
        if (s.w < 1 || s.h < 1 || s.w > limitWidth || s.h > limitHeight) {
            ++invalid;
            result.leftOut.push_back(i);
        } else {
            valid.push_back(i);
        }
    }
    if (valid.empty()) {
        result.fits = invalid == 0;
        result.unplaced = invalid;
        return result;
    }

    const size_t n = valid.size();
    if (n == 1 && invalid == 0) {
        // Every pass puts a lone frame in the corner (inputs are checked so).
        const Size2D& s = sizes[valid[0]];
        result.fits = true;
        result.width = powerOfTwo ? static_cast<int32_t>(MaxRects::RoundUpPowerOfTwo(s.w)) : s.w;
        result.height = powerOfTwo ? static_cast<int32_t>(MaxRects::RoundUpPowerOfTwo(s.h)) : s.h;
        result.positions.assign(sizes.size(), Point2D{});
        return result;
    }
    const bool large = n > MaxRects::kFullSearchLimit;
    const bool huge = n > MaxRects::kSmallSearchLimit;
    const std::vector<int32_t> widths =
        MaxRects::CandidateWidths(sizes, valid, limitWidth, limitHeight, powerOfTwo, huge ? 1 : large ? 3 : 14);

    // Round one scouts every width with the two combinations that win most
    // often (tallest first; best long or short side); round two tries every
    // combination on the few widths that did best.
    std::vector<Combination> scout{{Order::Height, Heuristic::BestLongSide}};
    if (!huge) {
        scout.push_back({Order::Height, Heuristic::BestShortSide});
    }
    std::vector<Combination> thorough;
    if (!large) {
        for (const Order order : {Order::Height, Order::Perimeter, Order::MaxSide, Order::Area}) {
            for (const Heuristic heuristic : {Heuristic::BestLongSide, Heuristic::BestShortSide, Heuristic::BestArea,
                                              Heuristic::BottomLeft, Heuristic::ContactPoint}) {
                if (heuristic == Heuristic::ContactPoint && n > MaxRects::kContactPointLimit) {
                    continue;
                }
                if (order != Order::Height || (heuristic != Heuristic::BestLongSide &&
                                               heuristic != Heuristic::BestShortSide)) {
                    thorough.push_back({order, heuristic});
                }
            }
        }
    } else if (!huge) {
        thorough.push_back({Order::MaxSide, Heuristic::BestLongSide});
        thorough.push_back({Order::Area, Heuristic::BestShortSide});
    }

    Search search(sizes, valid, limitHeight, powerOfTwo, workers);
    std::vector<Pass> scouting;
    for (const int32_t width : widths) {
        for (const Combination& c : scout) scouting.push_back({width, c});
    }
    const std::vector<int64_t> scouted = search.Run(scouting);
    std::vector<std::pair<int64_t, size_t>> ranking;  // best area per width, width's index
    for (size_t k = 0; k < widths.size(); ++k) {
        const auto first = scouted.begin() + static_cast<std::ptrdiff_t>(k * scout.size());
        ranking.emplace_back(*std::min_element(first, first + static_cast<std::ptrdiff_t>(scout.size())), k);
    }
    std::stable_sort(ranking.begin(), ranking.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const size_t finalists = std::min<size_t>(ranking.size(), large ? 1 : 2);
    std::vector<Pass> finals;
    for (size_t r = 0; r < finalists; ++r) {
        for (const Combination& c : thorough) finals.push_back({widths[ranking[r].second], c});
    }
    search.Run(finals);
    const bool haveBest = search.HaveBest();
    const Outcome& best = search.Best();
    const size_t fewestUnplaced = search.FewestUnplaced();

    if (!haveBest || invalid > 0) {
        result.unplaced = invalid + (haveBest ? 0 : fewestUnplaced);
        if (!haveBest) {
            const std::vector<size_t>& more = search.FewestLeftOut();
            result.leftOut.insert(result.leftOut.end(), more.begin(), more.end());
            std::sort(result.leftOut.begin(), result.leftOut.end());
        }
        return result;
    }
    result.fits = true;
    result.leftOut.clear();
    result.width = static_cast<int32_t>(best.width);
    result.height = static_cast<int32_t>(best.height);
    result.positions = best.positions;
    return result;
}

}  // namespace Velmora
