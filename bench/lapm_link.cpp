// Link efficiency of LAPM at V.22bis (2400 bit/s): user bytes delivered per second against the line
// rate, clean and with frames lost, in virtual line time; beside it the same transfer between two
// engines of the independent V.42 implementation, and the ratio. The CPU time is that of the simulation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "layer2/corecode/ec/lapm.h"

#ifdef HAVE_SPANDSP
extern "C" {
#include <spandsp.h>
#include <spandsp/private/hdlc.h>
#include <spandsp/private/logging.h>
#include <spandsp/private/v42.h>
}
#endif

namespace {

constexpr uint16_t kRate = 2400;
constexpr size_t kBytes = 64 * 1024;

struct Dte {
    std::deque<uint8_t> in;
    size_t out = 0;
};

LapmHost host(Dte* d)
{
    LapmHost h{};
    h.context = d;
    h.dte_pending = [](void* c) { return static_cast<uint32_t>(static_cast<Dte*>(c)->in.size()); };
    h.dte_read = [](void* c, uint8_t* o, uint32_t max) {
        auto* d = static_cast<Dte*>(c);
        uint32_t n = std::min<uint32_t>(max, static_cast<uint32_t>(d->in.size()));
        for (uint32_t i = 0; i < n; ++i) {
            o[i] = d->in.front();
            d->in.pop_front();
        }
        return n;
    };
    h.dte_room = [](void*) -> uint32_t { return 4096; };
    h.dte_write = [](void* c, const uint8_t*, uint32_t n) { static_cast<Dte*>(c)->out += n; };
    return h;
}

struct End {
    Dte dte;
    LapmCallValues call{};
    EcCounters counters{};
    LapmLink link;
    std::vector<uint8_t> frame;
    uint32_t left = 0;
};

// Line octets per frame: the frame, two FCS octets and one flag.
void carry(End* from, End* to, uint32_t budget, double loss, std::mt19937* rng)
{
    std::uniform_real_distribution<double> u(0, 1);
    while (budget) {
        if (from->left == 0) {
            FrameNode* f = lapm_tx_next(&from->link);
            if (!f)
                return;
            from->frame.assign(f->data, f->data + f->length);
            from->left = f->length + 3u;
        }
        uint32_t n = std::min(budget, from->left);
        budget -= n;
        from->left -= n;
        if (from->left == 0 && u(*rng) >= loss)
            lapm_rx_frame(&to->link, from->frame.data(), static_cast<uint16_t>(from->frame.size()), false);
    }
}

// Seconds of line time to move kBytes from a to b (and as much back when both ways).
double lapm_transfer(double loss, bool both_ways)
{
    static End a, b;
    std::mt19937 rng(1);
    for (End* e : {&a, &b}) {
        e->dte = Dte{};
        e->left = 0;
        e->call.tx_rate = e->call.rx_rate = kRate;
        e->call.connection_mode = 2;
        LapmHost h = host(&e->dte);
        lapm_init(&e->link, &h, &e->call, &e->counters);
        LapmSetup s{};
        s.retry_budget = 20;
        s.info_size = 128;
        s.srej_request = 1;
        lapm_setup(&e->link, &s);
    }
    lapm_start(&a.link, 0);
    lapm_start(&b.link, 1);
    a.dte.in.assign(kBytes, 'x');
    if (both_ways)
        b.dte.in.assign(kBytes, 'y');
    uint64_t ms = 0;
    uint64_t started = 0;
    while (b.dte.out < kBytes || (both_ways && a.dte.out < kBytes)) {
        ms += 10;
        if (ms % 100 == 0) {
            lapm_tick(&a.link);
            lapm_tick(&b.link);
        }
        carry(&a, &b, kRate / 800, loss, &rng);
        carry(&b, &a, kRate / 800, loss, &rng);
        if (lapm_step(&a.link) == LAPM_TRANSFER && !started)
            started = ms;
        lapm_step(&b.link);
        if (ms > 10'000'000)
            break;
    }
    return (ms - started) / 1000.0;
}

void report(benchmark::State& state, double seconds, double reference)
{
    double efficiency = kBytes * 8.0 / seconds / kRate;
    state.counters["efficiency_pct"] = 100.0 * efficiency;
    state.counters["line_seconds"] = seconds;
    if (reference > 0)
        state.counters["ratio_to_peer"] = reference / seconds;
}

#ifdef HAVE_SPANDSP
struct PeerData {
    size_t to_send;
    size_t received = 0;
};

double spandsp_transfer()
{
    static v42_state_t x, y;
    PeerData dx{kBytes}, dy{0};
    auto get = [](void* u, uint8_t* msg, int max) {
        auto* d = static_cast<PeerData*>(u);
        int n = static_cast<int>(std::min<size_t>(max, d->to_send));
        std::memset(msg, 'x', n);
        d->to_send -= n;
        return n;
    };
    auto put = [](void* u, const uint8_t*, int len) {
        if (len > 0)
            static_cast<PeerData*>(u)->received += len;
    };
    v42_init(&x, 1, 0, get, put, &dx);
    v42_init(&y, 0, 0, get, put, &dy);
    x.tx_bit_rate = y.tx_bit_rate = kRate;
    v42_restart(&x);
    v42_restart(&y);
    uint64_t bits = 0;
    while (dy.received < kBytes && bits < 100'000'000) {
        v42_rx_bit(&y, v42_tx_bit(&x));
        v42_rx_bit(&x, v42_tx_bit(&y));
        ++bits;
    }
    v42_release(&x);
    v42_release(&y);
    return static_cast<double>(bits) / kRate;
}
#endif

double peer_seconds()
{
#ifdef HAVE_SPANDSP
    static double s = spandsp_transfer();
    return s;
#else
    return 0;
#endif
}

void BM_LapmOneWayClean(benchmark::State& state)
{
    double s = 0;
    for (auto _ : state)
        s = lapm_transfer(0, false);
    report(state, s, peer_seconds());
}

void BM_LapmOneWayOnePercentLost(benchmark::State& state)
{
    double s = 0;
    for (auto _ : state)
        s = lapm_transfer(0.01, false);
    report(state, s, 0);
}

void BM_LapmBothWaysClean(benchmark::State& state)
{
    double s = 0;
    for (auto _ : state)
        s = lapm_transfer(0, true);
    report(state, s, 0);
}

void BM_LapmBothWaysOnePercentLost(benchmark::State& state)
{
    double s = 0;
    for (auto _ : state)
        s = lapm_transfer(0.01, true);
    report(state, s, 0);
}

}  // namespace

BENCHMARK(BM_LapmOneWayClean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LapmOneWayOnePercentLost)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LapmBothWaysClean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LapmBothWaysOnePercentLost)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
