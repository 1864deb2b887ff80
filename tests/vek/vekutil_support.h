// Helpers of the utility and arithmetic tests: guarded buffers at any byte offset, seeded data with edge values,
// an exact scale-factor reference, and a snapshot of the floating-point control state.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <xmmintrin.h>

namespace vekutil_test {

inline constexpr const char* kColumnNames[4] = {"gen", "mm", "ss", "wd"};

// A buffer of n elements of T placed at a chosen byte offset (0..31) from a 32-byte boundary, with guard bytes
// before and after that must survive every call.
template <class T>
class Guarded {
  public:
    Guarded(size_t n, size_t offset) : n_(n), off_(kGuard + offset), raw_(kGuard * 2 + offset + n * sizeof(T) + 32) {
        base_ = raw_.data() + ((32 - reinterpret_cast<uintptr_t>(raw_.data()) % 32) % 32);
        std::memset(raw_.data(), kFill, raw_.size());
    }
    T* data() { return reinterpret_cast<T*>(base_ + off_); }
    size_t size() const { return n_; }
    void set(size_t i, T v) { std::memcpy(base_ + off_ + i * sizeof(T), &v, sizeof v); }
    T get(size_t i) const {
        T v;
        std::memcpy(&v, base_ + off_ + i * sizeof(T), sizeof v);
        return v;
    }
    void fill(const std::vector<T>& v) {
        for (size_t i = 0; i < n_; ++i) set(i, v[i]);
    }
    std::vector<T> values() const {
        std::vector<T> v(n_);
        for (size_t i = 0; i < n_; ++i) v[i] = get(i);
        return v;
    }
    bool guards_intact() const {
        const uint8_t* p = base_;
        for (size_t i = 0; i < off_; ++i)
            if (p[i] != kFill) return false;
        const uint8_t* end = raw_.data() + raw_.size();
        for (const uint8_t* q = base_ + off_ + n_ * sizeof(T); q < end; ++q)
            if (*q != kFill) return false;
        return true;
    }

  private:
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kFill = 0xA5;
    size_t n_, off_;
    std::vector<uint8_t> raw_;
    uint8_t* base_;
};

// Random 16-bit samples with the edge values mixed in.
inline std::vector<int16_t> samples16(std::mt19937& rng, size_t n) {
    static const int16_t edges[] = {-32768, -32767, -1, 0, 1, 32766, 32767, -16384, 16384};
    std::uniform_int_distribution<int> pick(0, 7), any(-32768, 32767), idx(0, 8);
    std::vector<int16_t> v(n);
    for (auto& x : v) x = pick(rng) == 0 ? edges[idx(rng)] : static_cast<int16_t>(any(rng));
    return v;
}

// Exact r * 2^-sf, rounded half to even, saturated to [lo, hi]. Independent of the library's case split.
inline int64_t exact_scaled(__int128 r, int sf, int64_t lo, int64_t hi) {
    __int128 q;
    if (sf <= 0) {
        if (r == 0) return 0;
        if (-sf >= 63) return r > 0 ? hi : lo;  // |r| >= 1, far past any bound
        q = r * (static_cast<__int128>(1) << -sf);
    } else if (sf >= 120) {
        q = 0;  // |r| < 2^100 here, far below one half
    } else {
        const __int128 d = static_cast<__int128>(1) << sf;
        __int128 fl = r >= 0 ? r / d : -((-r + d - 1) / d);  // floor
        const __int128 rem2 = (r - fl * d) * 2;              // 2 * remainder, 0 <= rem2 < 2d
        if (rem2 > d || (rem2 == d && (fl & 1))) ++fl;
        q = fl;
    }
    return q > hi ? hi : (q < lo ? lo : static_cast<int64_t>(q));
}

// The x87 control word and MXCSR (control bits only, the sticky flags masked out).
struct FpState {
    uint16_t x87;
    uint32_t mxcsr;
    static FpState now() {
        FpState s;
        __asm__ __volatile__("fnstcw %0" : "=m"(s.x87));
        s.mxcsr = _mm_getcsr() & ~0x3Fu;
        return s;
    }
    bool operator==(const FpState& o) const { return x87 == o.x87 && mxcsr == o.mxcsr; }
};

}  // namespace vekutil_test
