#include "memory_internal.h"

#if defined(__linux__)
#include <sys/mman.h>
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

std::vector<uint32_t> FilledLargeBuffer(size_t count, uint32_t value) {
    std::vector<uint32_t> buffer;
    buffer.reserve(count);
    AdviseHugePages(buffer.data(), count * sizeof(uint32_t));
    buffer.assign(count, value);
    return buffer;
}

}  // namespace MemoryInternal
}  // namespace Velmora
