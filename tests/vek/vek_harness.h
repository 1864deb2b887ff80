// Shared helpers of the vector library tests: column names, guarded buffers, floating-point state snapshots
// and a guard that restores the dispatch table after a test installed a column.
#pragma once

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "layer1/vek/vek.h"

namespace vektest {

inline constexpr std::array<int, VEK_COLUMN_COUNT> kColumns = {VEK_CPU_GEN, VEK_CPU_MM, VEK_CPU_SS, VEK_CPU_WD};

inline const char* column_name(int column)
{
    static const char* const names[VEK_COLUMN_COUNT] = {"gen", "mm", "ss", "wd"};
    return (column >= 0 && column < VEK_COLUMN_COUNT) ? names[column] : "?";
}

// A byte buffer with guard bytes on both sides of a region that starts at a chosen offset from a 64-byte
// boundary. intact() tells whether anything outside the region was written.
class GuardedBuffer {
public:
    static constexpr std::size_t kGuard = 64;
    static constexpr std::uint8_t kFill = 0xA5;

    GuardedBuffer(std::size_t bytes, std::size_t offset)
        : storage_(bytes + offset + 2 * kGuard + 64, kFill), bytes_(bytes)
    {
        const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(storage_.data()) + kGuard;
        const std::uintptr_t aligned = (base + 63) & ~std::uintptr_t{63};
        start_ = reinterpret_cast<std::uint8_t*>(aligned + offset);
    }

    std::uint8_t* data() { return start_; }
    std::size_t size() const { return bytes_; }

    template <class T>
    T* as() { return reinterpret_cast<T*>(start_); }

    // Every byte outside [data, data + size) still holds the fill pattern.
    bool intact() const
    {
        const std::uint8_t* first = storage_.data();
        const std::uint8_t* last = storage_.data() + storage_.size();
        for (const std::uint8_t* p = first; p < start_; ++p) {
            if (*p != kFill) {
                return false;
            }
        }
        for (const std::uint8_t* p = start_ + bytes_; p < last; ++p) {
            if (*p != kFill) {
                return false;
            }
        }
        return true;
    }

    // Fills the region with pseudo-random bytes (a fixed pool, entered at a place the seed picks).
    void fill_random(std::uint32_t seed)
    {
        static const std::vector<std::uint8_t> pool = [] {
            std::vector<std::uint8_t> p(1u << 20);
            std::mt19937 rng(12345);
            for (auto& b : p) {
                b = static_cast<std::uint8_t>(rng());
            }
            return p;
        }();
        std::size_t at = (seed * 2654435761u) % 4093u;
        for (std::size_t done = 0; done < bytes_;) {
            const std::size_t n = std::min(bytes_ - done, pool.size() - at);
            std::memcpy(start_ + done, pool.data() + at, n);
            done += n;
            at = 0;
        }
    }

private:
    std::vector<std::uint8_t> storage_;
    std::size_t bytes_;
    std::uint8_t* start_ = nullptr;
};

// The x87 control word, MXCSR and the x87 tag word (an MMX instruction without EMMS leaves the tags set).
struct FpState {
    std::uint16_t x87Control;
    std::uint16_t x87Tags;
    std::uint32_t mxcsr;

    static FpState capture()
    {
        FpState s{};
        std::uint8_t env[28];
        asm volatile("fnstenv %0" : "=m"(env));
        // fnstenv masks the exceptions; restore the environment it read.
        asm volatile("fldenv %0" : : "m"(env));
        std::memcpy(&s.x87Control, env + 0, 2);
        std::memcpy(&s.x87Tags, env + 8, 2);
        s.mxcsr = _mm_getcsr();
        return s;
    }

    bool operator==(const FpState& o) const
    {
        return x87Control == o.x87Control && x87Tags == o.x87Tags && mxcsr == o.mxcsr;
    }
};

// Put into a test that installs a column: the table goes back to the processor's column afterwards.
class DispatchTableGuard {
public:
    DispatchTableGuard() = default;
    ~DispatchTableGuard() { vek_init(); }
    DispatchTableGuard(const DispatchTableGuard&) = delete;
    DispatchTableGuard& operator=(const DispatchTableGuard&) = delete;
};

} // namespace vektest
