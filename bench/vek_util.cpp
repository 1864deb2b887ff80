// Per-element cost of the utility and arithmetic primitives in each column, beside a plain scalar loop doing the
// same work, at 96 (one pump block), 4096 and 1 Mi elements; the utilities the pumps do not call at 256, 16 Ki and
// 1 Mi elements. Google Benchmark reports "items_per_second";
// invert it for the cost of one element.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/vek/vek.h"

namespace {

const char* const kColumnNames[4] = {"gen", "mm", "ss", "wd"};

// Seeded 16-bit data in 32-byte aligned storage.
struct Data {
    std::vector<std::int16_t> a, b, out;
    std::vector<std::int32_t> wide;
    std::vector<std::uint16_t> table;
    explicit Data(std::size_t n) : a(n + 16), b(2 * n + 16), out(2 * n + 16), wide(n + 8), table(64) {
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> any(-32768, 32767);
        for (auto& x : a) x = static_cast<std::int16_t>(any(rng));
        for (auto& x : b) x = static_cast<std::int16_t>(any(rng));
        for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i * 1000);
    }
    template <class T>
    static T* al(std::vector<T>& v) {
        return reinterpret_cast<T*>((reinterpret_cast<std::uintptr_t>(v.data()) + 31) & ~std::uintptr_t{31});
    }
};

void finish(benchmark::State& state, int column, std::size_t n) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
    state.SetLabel(column < 0 ? "plain loop" : kColumnNames[column]);
}

// column -1 runs the plain scalar loop.
template <class Library, class Plain>
void run(benchmark::State& state, int column, Library lib, Plain plain) {
    const auto n = static_cast<std::size_t>(state.range(0));
    Data d(n);
    for (auto _ : state) {
        if (column < 0) {
            plain(d, static_cast<std::int32_t>(n));
        } else {
            lib(d, column, static_cast<std::int32_t>(n));
        }
        benchmark::ClobberMemory();
    }
    finish(state, column, n);
}

void BM_sum(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int32_t r;
            vek_variant<VekSlot::vek_sum_16>(col)(Data::al(d.a), n, &r, 4);
            benchmark::DoNotOptimize(r);
        },
        [](Data& d, std::int32_t n) {
            std::int64_t t = 0;
            for (std::int32_t i = 0; i < n; ++i) t += Data::al(d.a)[i];
            benchmark::DoNotOptimize(t);
        });
}

void BM_min_index(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int16_t m;
            std::int32_t at;
            vek_variant<VekSlot::vek_min_index_16>(col)(Data::al(d.a), n, &m, &at);
            benchmark::DoNotOptimize(at);
        },
        [](Data& d, std::int32_t n) {
            const std::int16_t* p = Data::al(d.a);
            std::int32_t at = 0;
            for (std::int32_t i = 1; i < n; ++i) at = p[i] < p[at] ? i : at;
            benchmark::DoNotOptimize(at);
        });
}

void BM_dot16(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int16_t r;
            vek_variant<VekSlot::vek_dot_16_to16>(col)(Data::al(d.a), Data::al(d.b), n, &r, 15);
            benchmark::DoNotOptimize(r);
        },
        [](Data& d, std::int32_t n) {
            std::uint32_t acc = 0;
            for (std::int32_t i = 0; i < n; ++i)
                acc += static_cast<std::uint32_t>(Data::al(d.a)[i] * Data::al(d.b)[i]);
            benchmark::DoNotOptimize(acc);
        });
}

void BM_norm_l1(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int32_t r;
            vek_variant<VekSlot::vek_norm_l1_16>(col)(Data::al(d.a), n, &r, 0);
            benchmark::DoNotOptimize(r);
        },
        [](Data& d, std::int32_t n) {
            std::uint64_t t = 0;
            for (std::int32_t i = 0; i < n; ++i) t += static_cast<std::uint64_t>(std::abs(int{Data::al(d.a)[i]}));
            benchmark::DoNotOptimize(t);
        });
}

void BM_convert_widen(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_convert_s16_s32>(col)(Data::al(d.a), Data::al(d.wide), n);
        },
        [](Data& d, std::int32_t n) {
            for (std::int32_t i = 0; i < n; ++i) Data::al(d.wide)[i] = Data::al(d.a)[i];
        });
}

void BM_mul_vec_sf15(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_mul_vec_16_inplace_scaled>(col)(Data::al(d.b), Data::al(d.a), n, 15);
        },
        [](Data& d, std::int32_t n) {
            std::int16_t* v = Data::al(d.a);
            const std::int16_t* s = Data::al(d.b);
            for (std::int32_t i = 0; i < n; ++i) {
                const std::int32_t p = v[i] * s[i];
                const std::int32_t r = (p + (1 << 14) - 1 + ((p >> 15) & 1)) >> 15;
                v[i] = static_cast<std::int16_t>(r > 32767 ? 32767 : r);
            }
        });
}

void BM_sub_sf1(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_sub_vec_16_inplace_scaled>(col)(Data::al(d.b), Data::al(d.a), n, 1);
        },
        [](Data& d, std::int32_t n) {
            std::int16_t* v = Data::al(d.a);
            const std::int16_t* s = Data::al(d.b);
            for (std::int32_t i = 0; i < n; ++i) {
                const std::int32_t x = v[i] - s[i];
                const std::int32_t r = (x + ((x >> 1) & 1)) >> 1;
                v[i] = static_cast<std::int16_t>(r > 32767 ? 32767 : r);
            }
        });
}

void BM_div_const(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_div_const_16_scaled>(col)(Data::al(d.a), 7, Data::al(d.out), n, -2);
        },
        [](Data& d, std::int32_t n) {
            for (std::int32_t i = 0; i < n; ++i)
                Data::al(d.out)[i] = static_cast<std::int16_t>(std::lround(Data::al(d.a)[i] * 4 / 7.0));
        });
}

void BM_phase(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_phase_complex_16>(col)(reinterpret_cast<const VekC16*>(Data::al(d.b)),
                                                            Data::al(d.out), n, -12);
        },
        [](Data& d, std::int32_t n) {
            const std::int16_t* b = Data::al(d.b);
            for (std::int32_t i = 0; i < n; ++i)
                Data::al(d.out)[i] =
                    static_cast<std::int16_t>(std::lround(std::atan2(b[2 * i + 1], b[2 * i]) * 4096));
        });
}

void BM_nearest(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_find_nearest>(col)(reinterpret_cast<const std::uint16_t*>(Data::al(d.a)),
                                                        reinterpret_cast<std::uint16_t*>(Data::al(d.out)),
                                                        Data::al(d.wide), n, d.table.data(), 64);
        },
        [](Data& d, std::int32_t n) {
            const auto* v = reinterpret_cast<const std::uint16_t*>(Data::al(d.a));
            for (std::int32_t i = 0; i < n; ++i) {
                int best = 0;
                for (int k = 1; k < 64; ++k)
                    if (std::abs(d.table[k] - v[i]) < std::abs(d.table[best] - v[i])) best = k;
                Data::al(d.wide)[i] = best;
            }
        });
}

// --- utilities the pumps do not call ------------------------------------------------------------------------------

void BM_abs(benchmark::State& s, int c) {
    run(
        s, c, [](Data& d, int col, std::int32_t n) { vek_variant<VekSlot::vek_abs_16>(col)(Data::al(d.a), Data::al(d.out), n); },
        [](Data& d, std::int32_t n) {
            for (std::int32_t i = 0; i < n; ++i) {
                const int x = Data::al(d.a)[i];
                Data::al(d.out)[i] = static_cast<std::int16_t>(x == -32768 ? 32767 : std::abs(x));
            }
        });
}

void BM_conj(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_conj_16>(col)(reinterpret_cast<const VekC16*>(Data::al(d.b)),
                                                   reinterpret_cast<VekC16*>(Data::al(d.out)), n);
        },
        [](Data& d, std::int32_t n) {
            const std::int16_t* b = Data::al(d.b);
            std::int16_t* o = Data::al(d.out);
            for (std::int32_t i = 0; i < n; ++i) {
                o[2 * i] = b[2 * i];
                o[2 * i + 1] = static_cast<std::int16_t>(b[2 * i + 1] == -32768 ? 32767 : -b[2 * i + 1]);
            }
        });
}

void BM_threshold_gt(benchmark::State& s, int c) {
    run(
        s, c, [](Data& d, int col, std::int32_t n) { vek_variant<VekSlot::vek_threshold_gt_16_inplace>(col)(Data::al(d.a), n, 1000); },
        [](Data& d, std::int32_t n) {
            std::int16_t* v = Data::al(d.a);
            for (std::int32_t i = 0; i < n; ++i) v[i] = v[i] > 1000 ? 1000 : v[i];
        });
}

void BM_shift_right(benchmark::State& s, int c) {
    run(
        s, c, [](Data& d, int col, std::int32_t n) { vek_variant<VekSlot::vek_shift_16_inplace>(col)(3, Data::al(d.a), n); },
        [](Data& d, std::int32_t n) {
            std::int16_t* v = Data::al(d.a);
            for (std::int32_t i = 0; i < n; ++i) v[i] = static_cast<std::int16_t>(v[i] >> 3);
        });
}

void BM_power_spectrum(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_power_spectrum_complex_16>(col)(reinterpret_cast<const VekC16*>(Data::al(d.b)),
                                                                     Data::al(d.out), n, 16);
        },
        [](Data& d, std::int32_t n) {
            const std::int16_t* b = Data::al(d.b);
            for (std::int32_t i = 0; i < n; ++i) {
                const std::uint32_t p = static_cast<std::uint32_t>(b[2 * i] * b[2 * i]) +
                                        static_cast<std::uint32_t>(b[2 * i + 1] * b[2 * i + 1]);
                Data::al(d.out)[i] = static_cast<std::int16_t>(std::min<std::uint32_t>(p >> 16, 32767));
            }
        });
}

void BM_sqrt(benchmark::State& s, int c) {
    run(
        s, c, [](Data& d, int col, std::int32_t n) { vek_variant<VekSlot::vek_sqrt_16>(col)(Data::al(d.a), Data::al(d.out), n, 0); },
        [](Data& d, std::int32_t n) {
            for (std::int32_t i = 0; i < n; ++i) {
                const int x = Data::al(d.a)[i];
                Data::al(d.out)[i] = static_cast<std::int16_t>(x < 0 ? 0 : std::lround(std::sqrt(static_cast<double>(x))));
            }
        });
}

void BM_magnitude(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            vek_variant<VekSlot::vek_magnitude_complex_16>(col)(reinterpret_cast<const VekC16*>(Data::al(d.b)),
                                                                Data::al(d.out), n, 1);
        },
        [](Data& d, std::int32_t n) {
            const std::int16_t* b = Data::al(d.b);
            for (std::int32_t i = 0; i < n; ++i)
                Data::al(d.out)[i] = static_cast<std::int16_t>(std::nearbyint(std::hypot(b[2 * i], b[2 * i + 1]) / 2));
        });
}

void BM_stddev(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int32_t r;
            vek_variant<VekSlot::vek_stddev_16>(col)(Data::al(d.a), n, &r, 0);
            benchmark::DoNotOptimize(r);
        },
        [](Data& d, std::int32_t n) {
            double s1 = 0, s2 = 0;
            for (std::int32_t i = 0; i < n; ++i) {
                const double x = Data::al(d.a)[i];
                s1 += x;
                s2 += x * x;
            }
            benchmark::DoNotOptimize(std::sqrt((n * s2 - s1 * s1) / (static_cast<double>(n) * (n - 1))));
        });
}

void BM_max_index(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int16_t m;
            std::int32_t at;
            vek_variant<VekSlot::vek_max_index_16>(col)(Data::al(d.a), n, &m, &at);
            benchmark::DoNotOptimize(at);
        },
        [](Data& d, std::int32_t n) {
            const std::int16_t* p = Data::al(d.a);
            std::int32_t at = 0;
            for (std::int32_t i = 1; i < n; ++i) at = p[i] > p[at] ? i : at;
            benchmark::DoNotOptimize(at);
        });
}

void BM_dot_to32(benchmark::State& s, int c) {
    run(
        s, c,
        [](Data& d, int col, std::int32_t n) {
            std::int32_t r;
            vek_variant<VekSlot::vek_dot_16_to32>(col)(Data::al(d.a), Data::al(d.b), n, &r, 8);
            benchmark::DoNotOptimize(r);
        },
        [](Data& d, std::int32_t n) {
            std::int64_t t = 0;
            for (std::int32_t i = 0; i < n; ++i) t += Data::al(d.a)[i] * Data::al(d.b)[i];
            benchmark::DoNotOptimize(t);
        });
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(96)->Arg(4096)->Arg(1 << 20);
}

void utility_sizes(benchmark::internal::Benchmark* b) {
    b->Arg(256)->Arg(16 << 10)->Arg(1 << 20);
}

#define VEK_BENCH_COLUMNS_AT(fn, at)             \
    BENCHMARK_CAPTURE(fn, plain, -1)->Apply(at); \
    BENCHMARK_CAPTURE(fn, gen, 0)->Apply(at);    \
    BENCHMARK_CAPTURE(fn, mm, 1)->Apply(at);     \
    BENCHMARK_CAPTURE(fn, ss, 2)->Apply(at);     \
    BENCHMARK_CAPTURE(fn, wd, 3)->Apply(at)
#define VEK_BENCH_ALL_COLUMNS(fn) VEK_BENCH_COLUMNS_AT(fn, sizes)
#define VEK_BENCH_UTILITY(fn) VEK_BENCH_COLUMNS_AT(fn, utility_sizes)

VEK_BENCH_ALL_COLUMNS(BM_sum);
VEK_BENCH_ALL_COLUMNS(BM_min_index);
VEK_BENCH_ALL_COLUMNS(BM_dot16);
VEK_BENCH_ALL_COLUMNS(BM_norm_l1);
VEK_BENCH_ALL_COLUMNS(BM_convert_widen);
VEK_BENCH_ALL_COLUMNS(BM_mul_vec_sf15);
VEK_BENCH_ALL_COLUMNS(BM_sub_sf1);
VEK_BENCH_ALL_COLUMNS(BM_div_const);
VEK_BENCH_ALL_COLUMNS(BM_phase);
VEK_BENCH_ALL_COLUMNS(BM_nearest);
VEK_BENCH_UTILITY(BM_abs);
VEK_BENCH_UTILITY(BM_conj);
VEK_BENCH_UTILITY(BM_threshold_gt);
VEK_BENCH_UTILITY(BM_shift_right);
VEK_BENCH_UTILITY(BM_power_spectrum);
VEK_BENCH_UTILITY(BM_sqrt);
VEK_BENCH_UTILITY(BM_magnitude);
VEK_BENCH_UTILITY(BM_stddev);
VEK_BENCH_UTILITY(BM_max_index);
VEK_BENCH_UTILITY(BM_dot_to32);

}  // namespace

BENCHMARK_MAIN();
