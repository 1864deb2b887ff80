// Cost of the detector step per 10 ms block (96 samples at 9600 per second) in detector mode 1 (call progress:
// front end, one programmed bank section, the three-notch detector and cadence matching), and in mode 0
// (calling tone and ring energy reports).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/register_window.h"

#include "bench_fixtures.h"

namespace {

using Pump = benchsupport::DetectorPump;

// One second of the busy tone, 0.5 s on and 0.5 s off.
std::vector<int16_t> Busy()
{
    std::vector<int16_t> x(9600);
    for (size_t i = 0; i < x.size(); ++i) {
        const double s = static_cast<double>(i) / 9600.0;
        x[i] = static_cast<int16_t>(i < 4800 ? 2000 * (std::sin(2 * 3.14159265 * 480 * s) +
                                                        std::sin(2 * 3.14159265 * 620 * s))
                                             : 0);
    }
    return x;
}

void DetectorMode(benchmark::State& state)
{
    Pump p;
    DspContext* ctx = p.ctx.get();
    ConfigureSection(&ctx->detector.bank, 0, kCallProgressBandSection);
    SetDetectorMode(ctx, static_cast<int32_t>(state.range(0)));
    ctx->detector.energyReportFlag = 1;
    const std::vector<int16_t> x = Busy();
    size_t at = 0;
    for (auto _ : state) {
        std::memcpy(ctx->rxWork, x.data() + at, 96 * sizeof(int16_t));
        at = (at + 96) % x.size();
        DetectorBlockStep(ctx);
        WindowStore(p.blk.get(), kRegReplyCode, 0);  // the controller takes what was posted
    }
}
BENCHMARK(DetectorMode)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
