// Cost per element of the scaled arithmetic slots in every column, beside a plain scalar loop written from the
// family's rule (built once as the compiler vectorises it at -O2 and once with vectorisation off), at 256, 16 Ki
// and 1 Mi elements, for the representative slots: 16s add at sf 0, 1, 5, -3, -20; 8u add; 16s subtract; 32s add
// at sf 0, 1, 5, -3; 32s subtract; 16s and 16sc multiply; 32sc multiply; division. The counter "ns/elem" is the
// cost of one element.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/vek.h"

namespace {

const char* const kColumnNames[4] = {"gen", "mm", "ss", "wd"};
constexpr int kPlain = 4, kPlainNoVectorize = 5;

// Seeded operands in 32-byte aligned storage; the second operand (divisor) odd, so never zero.
struct Data {
    std::vector<uint8_t> a, b, out;
    explicit Data(size_t bytes) : a(bytes + 64), b(bytes + 64), out(bytes + 64) {
        std::mt19937 rng(1);
        for (auto& x : a) x = static_cast<uint8_t>(rng());
        for (auto& x : b) x = static_cast<uint8_t>(rng() | 1);
    }
    template <class T>
    static T* at(std::vector<uint8_t>& v) {
        return reinterpret_cast<T*>((reinterpret_cast<uintptr_t>(v.data()) + 31) & ~uintptr_t{31});
    }
};

// r * 2^-sf rounded half to even and clamped: the rule the plain loops follow.
template <class T>
inline T rule(int64_t r, int sf) {
    constexpr int64_t lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    if (sf > 0) r = (r + ((int64_t{1} << (sf - 1)) - 1) + ((r >> sf) & 1)) >> sf;
    if (sf < 0) r = r > (hi >> -sf) ? hi : (r < -((-lo) >> -sf) ? lo : r * (int64_t{1} << -sf));
    return static_cast<T>(r > hi ? hi : (r < lo ? lo : r));
}

enum class Op { Add, Sub, Mul, CMul, Div };

template <class T, Op op>
inline void plain_body(const T* x, const T* y, T* d, int32_t n, int sf) {
    if constexpr (op == Op::CMul) {
        for (int32_t i = 0; i < 2 * n; i += 2) {
            const __int128 re = static_cast<__int128>(x[i]) * y[i] - static_cast<__int128>(x[i + 1]) * y[i + 1];
            const __int128 im = static_cast<__int128>(x[i]) * y[i + 1] + static_cast<__int128>(x[i + 1]) * y[i];
            d[i] = rule<T>(static_cast<int64_t>(re >> 1), sf - 1);
            d[i + 1] = rule<T>(static_cast<int64_t>(im >> 1), sf - 1);
        }
    } else if constexpr (op == Op::Div) {
        for (int32_t i = 0; i < n; ++i) {
            const double q = static_cast<double>(x[i]) / y[i];
            d[i] = rule<T>(static_cast<int64_t>(q >= 0 ? q + 0.5 : q - 0.5), 0);
        }
    } else {
        for (int32_t i = 0; i < n; ++i) {
            const int64_t a = x[i], b = y[i];
            d[i] = rule<T>(op == Op::Add ? a + b : op == Op::Sub ? a - b : a * b, sf);
        }
    }
}
template <class T, Op op>
void plain(const T* x, const T* y, T* d, int32_t n, int sf) {
    plain_body<T, op>(x, y, d, n, sf);
}
template <class T, Op op>
__attribute__((optimize("no-tree-vectorize"))) void plain_novec(const T* x, const T* y, T* d, int32_t n, int sf) {
    plain_body<T, op>(x, y, d, n, sf);
}

template <class F>
struct First;
template <class R, class A, class... Rest>
struct First<R (*)(A, Rest...)> {
    using type = A;
};

// T is the half type; complex slots pass their halves as (re, im) pairs.
template <int Slot, class T, Op op>
void BM_slot(benchmark::State& state, int column, int sf) {
    const auto n = static_cast<int32_t>(state.range(0));
    const size_t halves = op == Op::CMul || (op == Op::Div && Slot == VekSlot::vek_div_vec_c16_scaled) ? 2 : 1;
    Data d(static_cast<size_t>(n) * halves * sizeof(T));
    T* x = Data::at<T>(d.a);
    T* y = Data::at<T>(d.b);
    T* out = Data::at<T>(d.out);
    using Fn = VekSlotFn<Slot>;
    const Fn f = column < 4 ? vek_variant<Slot>(column) : nullptr;
    for (auto _ : state) {
        if (column == kPlain) {
            plain<T, op>(x, y, out, n, sf);
        } else if (column == kPlainNoVectorize) {
            plain_novec<T, op>(x, y, out, n, sf);
        } else if constexpr (Slot == VekSlot::vek_divrev_const_16u) {
            benchmark::DoNotOptimize(f(reinterpret_cast<const uint16_t*>(y), 60000, reinterpret_cast<uint16_t*>(out), n));
        } else {
            // Every other slot here is a vector form (src1, src2, dst, n, sf) of one element type.
            using E = std::remove_cv_t<std::remove_pointer_t<typename First<Fn>::type>>;
            benchmark::DoNotOptimize(f(reinterpret_cast<const E*>(y), reinterpret_cast<const E*>(x),
                                       reinterpret_cast<E*>(out), n, sf));
        }
        benchmark::ClobberMemory();
    }
    state.counters["ns/elem"] = benchmark::Counter(static_cast<double>(state.iterations()) * n,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(column < 4 ? kColumnNames[column] : (column == kPlain ? "plain -O2" : "plain no-vectorize"));
}

template <int Slot, class T, Op op>
void add(const char* name, std::initializer_list<int> sfs) {
    for (int sf : sfs)
        for (int column = 0; column < 6; ++column) {
            const std::string label = std::string(name) + "/sf" + std::to_string(sf) + "/" +
                                      (column < 4 ? kColumnNames[column] : column == kPlain ? "plain" : "plain_novec");
            benchmark::RegisterBenchmark(label.c_str(), BM_slot<Slot, T, op>, column, sf)
                ->Arg(256)
                ->Arg(16384)
                ->Arg(1 << 20);
        }
}

const int kRegistered = [] {
    add<VekSlot::vek_add_vec_16_scaled, int16_t, Op::Add>("add_vec_16", {0, 1, 5, -3, -20});
    add<VekSlot::vek_add_vec_8_scaled, uint8_t, Op::Add>("add_vec_8", {0, 3});
    add<VekSlot::vek_sub_vec_16_scaled, int16_t, Op::Sub>("sub_vec_16", {0, 3});
    add<VekSlot::vek_add_vec_32_scaled, int32_t, Op::Add>("add_vec_32", {0, 1, 5, -3});
    add<VekSlot::vek_sub_vec_32_scaled, int32_t, Op::Sub>("sub_vec_32", {0, 3});
    add<VekSlot::vek_mul_vec_16_scaled, int16_t, Op::Mul>("mul_vec_16", {0, 12});
    add<VekSlot::vek_mul_vec_c16_scaled, int16_t, Op::CMul>("mul_vec_c16", {12});
    add<VekSlot::vek_mul_vec_c32_scaled, int32_t, Op::CMul>("mul_vec_c32", {20});
    add<VekSlot::vek_div_vec_16_scaled, int16_t, Op::Div>("div_vec_16", {0});
    add<VekSlot::vek_div_vec_8_scaled, uint8_t, Op::Div>("div_vec_8", {0});
    add<VekSlot::vek_divrev_const_16u, uint16_t, Op::Div>("divrev_16u", {0});
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
