// The line block against a stand-in data pump on a register window in memory: the pump's side of the chunks
// and a fixture holding one line block with error control's frame buffers.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/ec_frames.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace linetest {

// The data pump's side of the chunks, as the framer publishes them: bytes, then count and status as one pair.
struct PumpSide {
    DspInterfaceBlock block{};
    bool Post(const std::vector<uint8_t>& bytes, uint8_t status, uint8_t count_override = 0)
    {
        if (WindowLoadPair(&block, kRegRxCount) != 0)
            return false;
        WindowStoreBytes(&block, kRegRxData, bytes.data(), static_cast<int>(bytes.size()));
        const uint8_t count = count_override != 0 ? count_override : static_cast<uint8_t>(bytes.size());
        WindowStorePair(&block, kRegRxCount, static_cast<uint16_t>(count | (status << 8)));
        return true;
    }
    // Takes the waiting transmit chunk: false when none waits.
    bool Take(std::vector<uint8_t>* bytes, uint8_t* flags)
    {
        const uint16_t pair = WindowLoadPair(&block, kRegTxCount);
        if (pair == 0)
            return false;
        bytes->resize(pair & 0xFFu);
        WindowLoadBytes(&block, kRegTxData, bytes->data(), static_cast<int>(bytes->size()));
        *flags = static_cast<uint8_t>(pair >> 8);
        WindowStorePair(&block, kRegTxCount, 0);
        return true;
    }
    bool RxEmpty() const { return WindowLoadPair(&block, kRegRxCount) == 0; }
};

struct Packet {
    uint8_t code;
    std::vector<uint8_t> payload;
};

class LineBlockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LineBlockHost host{};
        host.ctx = this;
        host.send_packet = [](void* ctx, uint8_t code, const uint8_t* payload, int length) {
            static_cast<LineBlockTest*>(ctx)->packets.push_back({code, std::vector<uint8_t>(payload, payload + length)});
            return true;
        };
        host.reg_read = [](void* ctx, int reg) { return WindowLoad(&static_cast<LineBlockTest*>(ctx)->pump.block, reg); };
        host.reg_write = [](void* ctx, int reg, uint8_t v) { WindowStore(&static_cast<LineBlockTest*>(ctx)->pump.block, reg, v); };
        host.count_rx_frame = [](void* ctx) { static_cast<LineBlockTest*>(ctx)->framesCounted++; };
        lb_init(&lb, &host);
        lb_bind_window(&lb, &pump.block);
    }

    // The frame buffers error control would hand over: received frames are kept, a fresh one is given back.
    void UseFrames()
    {
        LineFrameOps ops{};
        ops.ctx = this;
        ops.tx_next = [](void* ctx) -> FrameNode* {
            auto* t = static_cast<LineBlockTest*>(ctx);
            if (t->txQueue.empty())
                return nullptr;
            FrameNode* f = t->txQueue.front();
            t->txQueue.erase(t->txQueue.begin());
            return f;
        };
        ops.rx_done = [](void* ctx, FrameNode* done) -> FrameNode* {
            auto* t = static_cast<LineBlockTest*>(ctx);
            if (done != nullptr)
                t->received.push_back(*done);
            return &t->rxBuffer;
        };
        lb_set_frame_ops(&lb, &ops);
        lb_rx_buffer_set(&lb, &rxBuffer);
    }

    std::vector<std::vector<uint8_t>> DrainChunks(std::vector<uint8_t>* flags)
    {
        std::vector<std::vector<uint8_t>> chunks;
        std::vector<uint8_t> bytes;
        uint8_t f = 0;
        while (pump.Take(&bytes, &f)) {
            chunks.push_back(bytes);
            flags->push_back(f);
            lb_service(&lb);  // the pump's notification after it took a chunk
        }
        return chunks;
    }

    PumpSide pump;
    LineBlock lb;
    std::vector<Packet> packets;
    int framesCounted = 0;
    std::vector<FrameNode*> txQueue;
    std::vector<FrameNode> received;
    FrameNode rxBuffer{};
};

}  // namespace linetest
