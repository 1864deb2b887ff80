// Conformance harness of the scaled arithmetic slots (126-223): any slot, in any column, called through the
// variant table with buffers at chosen byte offsets, and checked against an exact oracle written here from the
// family's rule alone (exact result times 2^-sf, rounded half to even, saturated), independent of the library.
//
// What a slot does is read from its name: operation (add, sub, subrev, mul, div, divrev), operand form (const or
// vec, inplace or not, scaled or not) and element type (8, 16, c16, 32, c32, and the widening or unsigned forms).
// The calling convention is read from its signature.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "layer1/vek/vek.h"
#include "vek_harness.h"
#include "vekutil_support.h"

namespace arith_test {

enum class Op { Add, Sub, SubRev, Mul, Div, DivRev };

// One half's storage: size in bytes, signedness and range.
struct Kind {
    int bytes;
    int64_t lo, hi;
};
inline constexpr Kind k8u{1, 0, 255}, k16s{2, -32768, 32767}, k16u{2, 0, 65535}, k32s{4, INT32_MIN, INT32_MAX},
    k32u{4, 0, UINT32_MAX};

struct SlotInfo {
    int slot = 0;
    std::string name;
    Op op = Op::Add;
    bool isConst = false, inplace = false, scaled = false;
    int halves = 1;  // 2 for complex elements
    Kind in{}, out{};
};

inline SlotInfo parse(int slot, const std::string& name) {
    SlotInfo s;
    s.slot = slot;
    s.name = name;
    const auto has = [&](const char* t) { return name.find(t) != std::string::npos; };
    s.op = has("vek_subrev") ? Op::SubRev
           : has("vek_sub")  ? Op::Sub
           : has("vek_add")  ? Op::Add
           : has("vek_mul")  ? Op::Mul
           : has("vek_divrev") ? Op::DivRev
                               : Op::Div;
    s.isConst = has("_const_");
    s.inplace = has("_inplace");
    s.scaled = has("_scaled");
    s.halves = (has("_c16") || has("_c32")) ? 2 : 1;
    if (has("_8_to16u")) {
        s.in = k8u, s.out = k16u;
    } else if (has("_16_to32")) {
        s.in = k16s, s.out = k32s;
    } else if (has("_16u")) {
        s.in = s.out = k16u;
    } else if (has("_32u")) {
        s.in = s.out = k32u;
    } else if (has("_8")) {
        s.in = s.out = k8u;
    } else if (has("16")) {
        s.in = s.out = k16s;
    } else {
        s.in = s.out = k32s;
    }
    return s;
}

// One call: x is the element operand (srcdst, src or src2), y the other vector (src or src1), d the destination of
// out-of-place forms; the constant's halves (re, im).
struct Call {
    uint8_t* x = nullptr;
    uint8_t* y = nullptr;
    uint8_t* d = nullptr;
    int64_t cre = 0, cim = 0;
    int32_t n = 0, sf = 0;
};

template <class K>
inline K constant_of(const Call& c) {
    if constexpr (std::is_same_v<K, VekC16>)
        return VekC16{static_cast<int16_t>(c.cre), static_cast<int16_t>(c.cim)};
    else
        return static_cast<K>(c.cre);
}

template <class T>
concept Scalar = std::is_arithmetic_v<T> || std::is_same_v<T, VekC16>;

// The calling conventions, told apart by signature.
template <Scalar K, class E>
VekStatus call(VekStatus (*f)(K, E*, int32_t, int32_t), const Call& c) {  // constant, in place
    return f(constant_of<K>(c), reinterpret_cast<E*>(c.x), c.n, c.sf);
}
template <Scalar K, class E>
VekStatus call(VekStatus (*f)(K, E*, int32_t), const Call& c) {
    return f(constant_of<K>(c), reinterpret_cast<E*>(c.x), c.n);
}
template <Scalar K, class E>
VekStatus call(VekStatus (*f)(const E*, K, E*, int32_t, int32_t), const Call& c) {  // constant, out of place
    return f(reinterpret_cast<const E*>(c.x), constant_of<K>(c), reinterpret_cast<E*>(c.d), c.n, c.sf);
}
template <Scalar K, class E>
VekStatus call(VekStatus (*f)(const E*, K, E*, int32_t), const Call& c) {
    return f(reinterpret_cast<const E*>(c.x), constant_of<K>(c), reinterpret_cast<E*>(c.d), c.n);
}
inline VekStatus call(VekStatus (*f)(int32_t, int32_t, VekC32*, int32_t, int32_t), const Call& c) {
    return f(static_cast<int32_t>(c.cre), static_cast<int32_t>(c.cim), reinterpret_cast<VekC32*>(c.x), c.n, c.sf);
}
inline VekStatus call(VekStatus (*f)(const VekC32*, int32_t, int32_t, VekC32*, int32_t, int32_t), const Call& c) {
    return f(reinterpret_cast<const VekC32*>(c.x), static_cast<int32_t>(c.cre), static_cast<int32_t>(c.cim),
             reinterpret_cast<VekC32*>(c.d), c.n, c.sf);
}
template <class E>
VekStatus call(VekStatus (*f)(const E*, E*, int32_t, int32_t), const Call& c) {  // vector, in place
    return f(reinterpret_cast<const E*>(c.y), reinterpret_cast<E*>(c.x), c.n, c.sf);
}
template <class E>
VekStatus call(VekStatus (*f)(const E*, E*, int32_t), const Call& c) {
    return f(reinterpret_cast<const E*>(c.y), reinterpret_cast<E*>(c.x), c.n);
}
template <class A, class D>
VekStatus call(VekStatus (*f)(const A*, const A*, D*, int32_t, int32_t), const Call& c) {  // vector, out of place
    return f(reinterpret_cast<const A*>(c.y), reinterpret_cast<const A*>(c.x), reinterpret_cast<D*>(c.d), c.n, c.sf);
}
template <class A, class D>
VekStatus call(VekStatus (*f)(const A*, const A*, D*, int32_t), const Call& c) {
    return f(reinterpret_cast<const A*>(c.y), reinterpret_cast<const A*>(c.x), reinterpret_cast<D*>(c.d), c.n);
}

// The floating-point state a call must leave as it found it: x87 control word, x87 tag word (all empty after MMX
// code) and the MXCSR control bits (its exception flags are sticky and may be set by any arithmetic).
struct FpControl {
    vektest::FpState s;
    static FpControl now() { return {vektest::FpState::capture()}; }
    bool operator==(const FpControl& o) const {
        return s.x87Control == o.s.x87Control && s.x87Tags == o.s.x87Tags && (s.mxcsr & ~0x3Fu) == (o.s.mxcsr & ~0x3Fu);
    }
};

using Invoker = VekStatus (*)(int column, const Call& c);

template <int Slot>
VekStatus invoke(int column, const Call& c) {
    return call(vek_variant<Slot>(column), c);
}

struct SlotEntry {
    SlotInfo info;
    Invoker invoke;
};

// Every slot of the family, from the library's slot list.
inline const std::vector<SlotEntry>& family() {
    static const std::vector<SlotEntry> all = [] {
        std::vector<SlotEntry> v;
#define ARITH_TEST_ROW(slot, name, ret, params, e) \
    if constexpr ((slot) >= 126 && (slot) <= 223) v.push_back({parse(slot, #name), &invoke<(slot) >= 126 && (slot) <= 223 ? (slot) : 126>});
        VEK_SLOT_LIST(ARITH_TEST_ROW)
#undef ARITH_TEST_ROW
        return v;
    }();
    return all;
}

inline bool is_division(const SlotInfo& s) {
    return s.op == Op::Div || s.op == Op::DivRev;
}

// --- element values ---

inline int64_t get(const uint8_t* p, int64_t i, const Kind& k) {
    if (k.bytes == 1) return p[i];
    if (k.bytes == 2) {
        uint16_t u;
        std::memcpy(&u, p + 2 * i, 2);
        return k.lo < 0 ? int64_t{static_cast<int16_t>(u)} : int64_t{u};
    }
    uint32_t u;
    std::memcpy(&u, p + 4 * i, 4);
    return k.lo < 0 ? int64_t{static_cast<int32_t>(u)} : int64_t{u};
}
inline void put(uint8_t* p, int64_t i, const Kind& k, int64_t v) {
    if (k.bytes == 1) {
        p[i] = static_cast<uint8_t>(v);
    } else if (k.bytes == 2) {
        const uint16_t u = static_cast<uint16_t>(v);
        std::memcpy(p + 2 * i, &u, 2);
    } else {
        const uint32_t u = static_cast<uint32_t>(v);
        std::memcpy(p + 4 * i, &u, 4);
    }
}

// Random values of a kind with its edges (min, min + 1, -1, 0, 1, max - 1, max) mixed in.
inline int64_t sample(std::mt19937_64& rng, const Kind& k) {
    const int64_t edges[] = {k.lo, k.lo + 1, -1, 0, 1, k.hi - 1, k.hi, k.hi / 2, k.lo / 2};
    const uint64_t r = rng();
    if (r % 4 == 0) {
        const int64_t e = edges[(r >> 8) % 9];
        if (e >= k.lo && e <= k.hi) return e;
    }
    const uint64_t span = static_cast<uint64_t>(k.hi - k.lo) + 1;
    return k.lo + static_cast<int64_t>((r >> 16) % span);
}

// --- the oracle of add, subtract and multiply ---

inline int64_t scaled(__int128 r, int32_t sf, const Kind& k) {
    const int s = sf > 200 ? 200 : (sf < -200 ? -200 : static_cast<int>(sf));
    return vekutil_test::exact_scaled(r, s, k.lo, k.hi);
}

// Expected output halves from the input halves x (element operand) and y (other operand, or the constant).
inline std::vector<int64_t> expect_arith(const SlotInfo& s, const std::vector<int64_t>& x,
                                         const std::vector<int64_t>& y, int32_t sf) {
    const int32_t f = s.scaled ? sf : 0;
    std::vector<int64_t> out(x.size());
    if (s.op == Op::Mul && s.halves == 2) {
        for (size_t i = 0; i < x.size(); i += 2) {
            const __int128 xr = x[i], xi = x[i + 1], yr = y[i], yi = y[i + 1];
            out[i] = scaled(xr * yr - xi * yi, f, s.out);
            out[i + 1] = scaled(xr * yi + xi * yr, f, s.out);
        }
        return out;
    }
    for (size_t i = 0; i < x.size(); ++i) {
        const __int128 a = x[i], b = y[i];
        const __int128 r = s.op == Op::Add ? a + b : s.op == Op::Sub ? a - b : s.op == Op::SubRev ? b - a : a * b;
        out[i] = scaled(r, f, s.out);
    }
    return out;
}

}  // namespace arith_test
