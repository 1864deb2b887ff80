// The controller's side of the data chunks for pump tests: a queue of bytes to send through the transmit
// mailbox and what came back through the receive mailbox; and one pump without a line run block by block.
#pragma once

#include <algorithm>
#include <deque>
#include <vector>

#include "dsp_fixture.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace dsptest {

struct ChunkLink {
    explicit ChunkLink(DspInterfaceBlock* b) : block(b) {}
    DspInterfaceBlock* block;
    std::deque<uint8_t> toSend;
    std::vector<uint8_t> received;
    std::vector<uint8_t> flags;      // flags of every chunk that had some
    std::vector<Bytes> frames;       // HDLC: data of each frame closed with flags 1 (FCS bytes dropped)
    Bytes current;
    int endOfFrameAfter = 0;         // HDLC: flags 1 on the chunk that empties the queue

    void Serve()
    {
        if (!toSend.empty() && WindowLoadPair(block, kRegTxCount) == 0) {
            const size_t n = std::min<size_t>(32, toSend.size());
            for (size_t i = 0; i < n; ++i) {
                WindowStore(block, kRegTxData + static_cast<int>(i), toSend.front());
                toSend.pop_front();
            }
            const uint8_t f = (toSend.empty() && endOfFrameAfter) ? kTxEndOfFrame : 0;
            WindowStorePair(block, kRegTxCount, static_cast<uint16_t>(n | (f << 8)));
        }
        const uint16_t pair = WindowLoadPair(block, kRegRxCount);
        if (pair == 0)
            return;
        for (int i = 0; i < (pair & 0xFF); ++i) {
            received.push_back(WindowLoad(block, kRegRxData + i));
            current.push_back(received.back());
        }
        const uint8_t f = static_cast<uint8_t>(pair >> 8);
        if (f != 0) {
            flags.push_back(f);
            if (f == kRxGoodFrame && current.size() >= 2)
                frames.emplace_back(current.begin(), current.end() - 2);
            current.clear();
        }
        WindowStorePair(block, kRegRxCount, 0);
    }
};

// One pump without a line: each block takes received samples, runs both sequencers as the idle block handler
// does and hands back what the pump sent; the test plays the controller's side of the data chunks.
struct BlockRunner {
    DspBench bench;
    DspContext* ctx = bench.context.get();
    ChunkLink link{bench.block.get()};

    std::vector<int16_t> Block(const int16_t* rx)
    {
        link.Serve();
        LockDsp(bench.block.get());
        for (int i = 0; i < 96; ++i)
            ctx->rxWork[i] = rx ? rx[i] : 0;
        RunStep(ctx, &ctx->seqB);
        RunStep(ctx, &ctx->seqA);
        FramerPostRxBytes(ctx);
        std::vector<int16_t> out(ctx->txWork, ctx->txWork + 96);
        for (int16_t& v : ctx->txWork)
            v = 0;
        UnlockDsp(bench.block.get());
        link.Serve();
        return out;
    }
};

}  // namespace dsptest
