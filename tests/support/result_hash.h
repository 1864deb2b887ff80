// A hash of a path's results for tests that hold outputs to their recorded values: FNV-1a over the eight
// bytes of each value, so the same numbers give the same hash whatever their types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testsupport {

struct ResultHash {
    uint64_t h = 1469598103934665603ull;
    void Add(int64_t v)
    {
        for (int i = 0; i < 8; ++i) {
            h ^= static_cast<uint64_t>(v >> (8 * i)) & 0xFFu;
            h *= 1099511628211ull;
        }
    }
    template <class T>
    void AddAll(const T* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            Add(static_cast<int64_t>(p[i]));
    }
};

}  // namespace testsupport
