// Cost per 10 ms block (96 samples at 9600 per second) of the FSK modem: one block modulated and one block
// demodulated, per channel, with random bits in and the bits decided thrown away.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "layer1/modem/fsk/fsk_state.h"

namespace {

struct Bits {
    uint32_t lfsr = 0xACE1u;
    static int32_t Get(void* owner)
    {
        Bits* b = static_cast<Bits*>(owner);
        b->lfsr = (b->lfsr >> 1) ^ (-(b->lfsr & 1u) & 0xB400u);
        return static_cast<int32_t>(b->lfsr & 1u);
    }
    static void Put(void*, int32_t) {}
    static void Status(void*, uint8_t, int) {}
};

void FskTransmitAndReceive(benchmark::State& state)
{
    const int32_t id = static_cast<int32_t>(state.range(0));
    Bits bits;
    FskState tx{};
    FskState rx{};
    for (FskState* f : {&tx, &rx}) {
        FskSelectChannels(f, id, id);
        f->mod.gain = 14289;
        f->port = FskPort{&bits, Bits::Get, Bits::Put, nullptr, nullptr, Bits::Status};
        FskResetModulator(f);
        FskResetReceiver(f);
    }
    int16_t block[96];
    for (auto _ : state) {
        FskModulate(&tx, block, 96);
        FskDemodulate(&rx, block, 96);
        benchmark::DoNotOptimize(block);
    }
    state.SetLabel(id == FSK_V21_CH1 ? "V.21 ch1" : id == FSK_V23_1200 ? "V.23 1200" : "V.23 75");
}
BENCHMARK(FskTransmitAndReceive)->Arg(FSK_V21_CH1)->Arg(FSK_V23_1200)->Arg(FSK_V23_BACKWARD);

}  // namespace

BENCHMARK_MAIN();
