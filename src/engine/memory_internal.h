// Memory hints for the engine's large results. Internal: not part of the
// engine's public header.
#ifndef VELMORA_MEMORY_INTERNAL_H
#define VELMORA_MEMORY_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velmora/workers.h"

namespace Velmora {
namespace MemoryInternal {

// Asks the operating system to back the whole 2 MiB pages inside
// [data, data + bytes) with transparent huge pages. Fresh memory is zeroed
// one page fault at a time, so for a result of tens of MiB this turns
// thousands of faults into a few dozen. Only a hint: the contents are never
// changed, nothing happens for small ranges, off Linux, or when the system
// declines, and no error is reported.
void AdviseHugePages(void* data, size_t bytes);

// Has the operating system back the pages of [data, data + bytes) now,
// piece by piece on the workers' threads, so the first writes to them do
// not each stop for a fault. Only a hint: the contents are never changed;
// nothing happens for small ranges, with one worker, off Linux, or on a
// kernel that declines.
void PrefaultForWriting(void* data, size_t bytes, const Workers& workers);

// `count` copies of `value` in a vector whose storage was advised as above,
// and faulted in on the workers' threads, before its first write.
std::vector<uint32_t> FilledLargeBuffer(size_t count, uint32_t value, const Workers& workers = {});

}  // namespace MemoryInternal
}  // namespace Velmora

#endif  // VELMORA_MEMORY_INTERNAL_H
