#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "memory_internal.h"

namespace {

using Velmora::MemoryInternal::AdviseHugePages;
using Velmora::MemoryInternal::FilledLargeBuffer;

// The hint must never change contents: below, at and across the 2 MiB
// boundaries, and with an unaligned start.
TEST(LargeBuffers, FilledBufferHoldsExactlyTheValue) {
    for (const size_t count : {size_t{0}, size_t{1}, size_t{1} << 19, (size_t{1} << 19) + 3, size_t{3} << 20}) {
        const std::vector<uint32_t> buffer = FilledLargeBuffer(count, 0xFF808080u);
        ASSERT_EQ(buffer.size(), count);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(buffer[i], 0xFF808080u) << "count " << count << " at " << i;
        }
    }
}

TEST(LargeBuffers, AdviceKeepsWrittenBytes) {
    std::vector<uint8_t> bytes((size_t{5} << 20) + 77);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 31u + 7u);
    }
    AdviseHugePages(bytes.data() + 1, bytes.size() - 1);
    AdviseHugePages(nullptr, size_t{4} << 20);
    AdviseHugePages(bytes.data(), 0);
    for (size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 31u + 7u)) << i;
    }
}

}  // namespace
