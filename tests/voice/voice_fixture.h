// A data pump in voice mode on a fake sample-stream driver, driven like the controller drives it: commands go
// through the register window; the controller's event routine takes every reply and event packet, empties
// the receive mailbox into `recorded` and keeps the transmit mailbox filled from `toPlay`. Blocks run through
// the pump's per-block entry at the rate and block length the pump last set.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/register_window.h"

namespace voicetest {

using Bytes = std::vector<uint8_t>;

struct FormatCall {
    uint16_t rate;
    uint16_t block;
};

class VoiceBench {
public:
    VoiceBench() : context(std::make_unique<DspContext>()), block(std::make_unique<DspInterfaceBlock>())
    {
        std::memset(context.get(), 0, sizeof(DspContext));
        std::memset(block.get(), 0, sizeof(DspInterfaceBlock));
        lower.readBlock = &ReadBlock;
        lower.writeBlock = &WriteBlock;
        lower.control = &Control;
        lower.secondControl = &Control;
        lower.handle = this;
        InitInterfaceBlock(block.get(), &Callback, CommandDispatcher);
        block->controllerContext = this;  // the event routine finds its bench here (two pumps in one test)
        SetupLowerAudio(&audio, &lower);
        InitDspContext(context.get(), &audio, block.get());
        Send(IcdReset, {0});
        packets.clear();
        formats.clear();
    }
    ~VoiceBench()
    {
        if (context->command.filtersCreated)
            DestroyDspFilters(context.get());
    }

    // Writes a command into the window and rings the doorbell, as the controller does; returns the packets
    // the controller took meanwhile.
    std::vector<Bytes> Send(uint8_t code, const Bytes& payload)
    {
        const size_t before = packets.size();
        for (size_t i = 0; i < payload.size() && i < 16; ++i)
            WindowStore(block.get(), kRegCommandPayload + static_cast<int>(i), payload[i]);
        WindowStore(block.get(), kRegCommandLength, static_cast<uint8_t>(payload.size()));
        WindowStore(block.get(), kRegCommandCode, code);
        block->commandEntry(context.get());
        return std::vector<Bytes>(packets.begin() + static_cast<long>(before), packets.end());
    }

    // Detector mode 2, then a voice start with rate, format and sub-mode.
    void StartVoice(uint8_t rate, uint8_t format, uint8_t subMode)
    {
        Send(IcdConfigDetectors, {2, 0});
        Send(IcdStartVoice, {rate, format, subMode, 0});
    }

    // One block through the pump's per-block entry (device lock, block handler, callbacks after it).
    void Block()
    {
        ServeTx();
        context->perBlockEntry(context.get());
    }
    void Blocks(int n)
    {
        for (int i = 0; i < n; ++i)
            Block();
    }

    // Event characters (0xC4) the controller took, in order.
    std::string EventChars() const
    {
        std::string s;
        for (const Bytes& p : packets) {
            if (p.size() >= 5 && p[0] == IcdEventChar)
                s.push_back(static_cast<char>(p[4]));
        }
        return s;
    }
    // The block index at which each event character arrived.
    std::vector<uint64_t> EventBlocks() const { return eventBlocks; }

    uint16_t Rate() const { return audio.format.rate; }
    uint16_t BlockLength() const { return audio.format.blockLength; }

    // Controller side.
    std::deque<uint8_t> toPlay;
    Bytes recorded;
    std::vector<int> chunkSizes;      // count of every receive chunk taken
    std::vector<Bytes> packets;       // reply and event packets: code, 0, length, 0, payload
    std::vector<uint64_t> eventBlocks;
    bool holdRx = false;              // the controller leaves the receive mailbox full
    bool holdReplies = false;         // the controller leaves register 0 full
    uint64_t callbacks = 0;

    // Line side.
    std::deque<int16_t> lineIn;       // samples the pump reads (zeros once empty)
    std::vector<int16_t> lineOut;     // samples the pump wrote
    std::vector<FormatCall> formats;  // control code 4 calls
    std::vector<std::vector<uint32_t>> gainCalls;  // control code 30 inputs
    uint64_t blocksRead = 0;

    LowerDriverInterface lower{};
    LowerAudioInterface audio{};
    std::unique_ptr<DspContext> context;
    std::unique_ptr<DspInterfaceBlock> block;

    void ServeTx()
    {
        if (toPlay.empty() || WindowLoadPair(block.get(), kRegTxCount) != 0)
            return;
        const size_t n = std::min<size_t>(kMailboxBytes, toPlay.size());
        for (size_t i = 0; i < n; ++i) {
            WindowStore(block.get(), kRegTxData + static_cast<int>(i), toPlay.front());
            toPlay.pop_front();
        }
        WindowStorePair(block.get(), kRegTxCount, static_cast<uint16_t>(n));
    }
    void ServeRx()
    {
        const uint16_t pair = WindowLoadPair(block.get(), kRegRxCount);
        if (pair == 0 || holdRx)
            return;
        const int n = pair & 0xFF;
        for (int i = 0; i < n; ++i)
            recorded.push_back(WindowLoad(block.get(), kRegRxData + i));
        chunkSizes.push_back(n);
        WindowStorePair(block.get(), kRegRxCount, 0);
    }
    void ServeReply()
    {
        const uint8_t code = WindowLoad(block.get(), kRegReplyCode);
        if (code == 0 || holdReplies)
            return;
        const uint8_t n = WindowLoad(block.get(), kRegReplyLength);
        Bytes p{code, 0, n, 0};
        for (int i = 0; i < n && i < 16; ++i)
            p.push_back(WindowLoad(block.get(), kRegReplyPayload + i));
        packets.push_back(p);
        if (code == IcdEventChar)
            eventBlocks.push_back(blocksRead);
        WindowStore(block.get(), kRegReplyCode, 0);
    }

private:
    static void Callback(DspInterfaceBlock* b)
    {
        auto* self = static_cast<VoiceBench*>(b->controllerContext);
        self->callbacks += 1;
        self->ServeReply();
        self->ServeRx();
        self->ServeTx();
    }
    static uint16_t ReadBlock(void* handle, int16_t* buffer, uint32_t bytes)
    {
        auto* self = static_cast<VoiceBench*>(handle);
        self->blocksRead += 1;
        for (uint32_t i = 0; i < bytes / 2; ++i) {
            buffer[i] = self->lineIn.empty() ? 0 : self->lineIn.front();
            if (!self->lineIn.empty())
                self->lineIn.pop_front();
        }
        return 1;
    }
    static uint16_t WriteBlock(void* handle, int16_t* buffer, uint32_t bytes)
    {
        auto* self = static_cast<VoiceBench*>(handle);
        self->lineOut.insert(self->lineOut.end(), buffer, buffer + bytes / 2);
        return 1;
    }
    static int32_t Control(void* handle, uint32_t code, void* input, void* output)
    {
        auto* self = static_cast<VoiceBench*>(handle);
        if (code == LOWER_CODE_FORMAT && input != nullptr) {
            uint16_t f[2];
            std::memcpy(f, input, sizeof(f));
            self->formats.push_back({f[0], f[1]});
        }
        if (code == 30 && input != nullptr) {
            uint32_t v[3];
            std::memcpy(v, input, sizeof(v));
            self->gainCalls.push_back({v[0], v[1], v[2]});
        }
        if (code == LOWER_CODE_DEVICE_RECORD && output != nullptr)
            std::memset(output, 0, sizeof(LowerDeviceRecord));
        return 0;
    }
};

}  // namespace voicetest
