#include "memory_internal.h"

#include <algorithm>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Velmora {
namespace MemoryInternal {
namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

}  // namespace

void AdviseHugePages(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const auto begin = reinterpret_cast<uintptr_t>(data);
    if (data == nullptr || bytes < kHugePage || begin > UINTPTR_MAX - bytes) {
        return;
    }
    // madvise needs page-aligned ranges; only whole huge pages can be
    // huge pages, so the edges of the range are left as they are.
    const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
    if (first < last) {
        // A refusal (no THP in this kernel, or disabled) only costs speed.
        char* const start = static_cast<char*>(data) + (first - begin);
        static_cast<void>(madvise(start, last - first, MADV_HUGEPAGE));
    }
#else
    static_cast<void>(data);
    static_cast<void>(bytes);
#endif
}

void PrefaultForWriting(void* data, size_t bytes, const Workers& workers) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    const auto begin = reinterpret_cast<uintptr_t>(data);
    if (data == nullptr || bytes < 2 * kHugePage || workers.count < 2 || !workers.run ||
        begin > UINTPTR_MAX - bytes) {
        return;
    }
    // Whole pages only, in pieces of a huge page each, so no piece shares
    // a huge page with another.
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (begin + page - 1) & ~(page - 1);
    const uintptr_t last = (begin + bytes) & ~(page - 1);
    if (first >= last) return;
    const uintptr_t firstHuge = (first + kHugePage - 1) & ~(kHugePage - 1);
    std::vector<std::pair<size_t, size_t>> pieces;  // offset from `data`, length
    for (uintptr_t from = first, to = std::min(firstHuge, last); from < last;
         from = to, to = std::min(to + kHugePage, last)) {
        if (from < to) pieces.emplace_back(from - begin, to - from);
    }
    char* const base = static_cast<char*>(data);
    workers.run(pieces.size(), [&pieces, base](size_t k) {
        // Only a hint: an older kernel refuses it, and the first write
        // faults the pages in as usual.
        static_cast<void>(madvise(base + pieces[k].first, pieces[k].second, MADV_POPULATE_WRITE));
    });
#else
    static_cast<void>(data);
    static_cast<void>(bytes);
    static_cast<void>(workers);
#endif
}

std::vector<uint32_t> FilledLargeBuffer(size_t count, uint32_t value, const Workers& workers) {
    std::vector<uint32_t> buffer;
    buffer.reserve(count);
    AdviseHugePages(buffer.data(), count * sizeof(uint32_t));
    PrefaultForWriting(buffer.data(), count * sizeof(uint32_t), workers);
    buffer.assign(count, value);
    return buffer;
}

}  // namespace MemoryInternal
}  // namespace Velmora
