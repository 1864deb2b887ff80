// Stand-ins the benchmarks share: a mailbox that always has a full transmit chunk and takes every receive
// chunk, and a data pump reduced to its detectors on 9600 Hz blocks of 96 samples.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "layer1/dsp/detector_state.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/framer.h"

namespace benchsupport {

// A full chunk always waits (a frame ends every fourth) and whatever is posted is taken.
struct FullRateMailbox {
    uint8_t chunk = 0;
    static int Post(void*, uint8_t, uint8_t, const uint8_t*) { return 1; }
    static int Free(void*) { return 1; }
    static int Waiting(void*) { return kMailboxBytes; }
    static int Fetch(void* owner, uint8_t* flags, uint8_t* count, uint8_t* bytes)
    {
        FullRateMailbox* m = static_cast<FullRateMailbox*>(owner);
        for (int i = 0; i < kMailboxBytes; ++i)
            bytes[i] = static_cast<uint8_t>(m->chunk + i * 37);
        *count = kMailboxBytes;
        *flags = (++m->chunk & 3) == 0 ? kTxEndOfFrame : 0;
        return 1;
    }
    static void Wanted(void*, int) {}
    FramerPort Port() { return FramerPort{this, Post, Free, Waiting, Fetch, Wanted}; }
};

struct DetectorPump {
    DetectorPump()
    {
        ctx = std::make_unique<DspContext>();
        blk = std::make_unique<DspInterfaceBlock>();
        std::memset(ctx.get(), 0, sizeof(DspContext));
        std::memset(blk.get(), 0, sizeof(DspInterfaceBlock));
        ctx->interfaceBlock = blk.get();
        audio.format.blockLength = 96;
        ctx->lowerAudio = &audio;
        for (int i = 0; i < 96; ++i)
            audio.gainTable[i] = kGainTable[i];
        ResetBank(&ctx->detector.bank);
        InitDetectorState(ctx.get());
    }
    std::unique_ptr<DspContext> ctx;
    std::unique_ptr<DspInterfaceBlock> blk;
    LowerAudioInterface audio{};
};

}  // namespace benchsupport
