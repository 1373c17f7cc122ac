// Work spread over a few threads, for the file commands and their encoders.
#ifndef VELMORA_SUPPORT_PARALLEL_H
#define VELMORA_SUPPORT_PARALLEL_H

#include <cstddef>
#include <functional>

namespace Velmora::Support {

// Runs body(i) for i in [0, count) on up to `jobs` threads, the caller's
// included. The first exception a call throws stops the others from taking
// more work and is rethrown here once every thread has joined.
void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& body);

}  // namespace Velmora::Support

#endif  // VELMORA_SUPPORT_PARALLEL_H
