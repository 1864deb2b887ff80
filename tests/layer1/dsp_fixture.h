// A data pump on a fake sample-stream driver, driven like the controller drives it: command packets are
// written into the register window (payload, length, then the code) and the command entry is called; the
// controller callback takes every reply or event packet out of registers 0-19 and clears register 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/register_window.h"

namespace dsptest {

struct ControlCall {
    uint32_t code;
    std::vector<uint8_t> input;
};

using Bytes = std::vector<uint8_t>;

class FakeLower {
public:
    FakeLower()
    {
        iface.readBlock = &ReadBlock;
        iface.writeBlock = &WriteBlock;
        iface.control = &Control;
        iface.secondControl = &Control;
        iface.handle = this;
    }

    std::vector<ControlCall> Calls()
    {
        std::lock_guard<std::mutex> g(lock);
        return calls;
    }
    void ClearCalls()
    {
        std::lock_guard<std::mutex> g(lock);
        calls.clear();
    }
    std::vector<ControlCall> CallsOf(uint32_t code)
    {
        std::vector<ControlCall> out;
        for (const ControlCall& c : Calls()) {
            if (c.code == code)
                out.push_back(c);
        }
        return out;
    }

    LowerDriverInterface iface{};
    LowerDeviceRecord record{};
    std::map<uint32_t, uint32_t> codec;  // selector -> value
    uint64_t blocks = 0;

private:
    static size_t InputBytes(uint32_t code)
    {
        switch (code) {
        case 4: return 4;
        case 11: return 2;
        case 16: case 17: return 8;
        case 30: return 12;
        case 8: case 10: case 13: case 18: case 19: case 32: return 4;
        default: return 0;
        }
    }
    static uint16_t ReadBlock(void* handle, int16_t* buffer, uint32_t bytes)
    {
        auto* self = static_cast<FakeLower*>(handle);
        std::memset(buffer, 0, bytes);
        std::lock_guard<std::mutex> g(self->lock);
        self->blocks += 1;
        return 1;
    }
    static uint16_t WriteBlock(void*, int16_t*, uint32_t) { return 1; }
    static int32_t Control(void* handle, uint32_t code, void* input, void* output)
    {
        auto* self = static_cast<FakeLower*>(handle);
        std::lock_guard<std::mutex> g(self->lock);
        ControlCall call{code, {}};
        const size_t n = InputBytes(code);
        if (input != nullptr && n != 0)
            call.input.assign(static_cast<uint8_t*>(input), static_cast<uint8_t*>(input) + n);
        self->calls.push_back(call);
        if (code == LOWER_CODE_DEVICE_RECORD && output != nullptr)
            std::memcpy(output, &self->record, sizeof(self->record));
        if (code == LOWER_CODE_CODEC_READ && input != nullptr && output != nullptr) {
            LowerCodecAccess a;
            std::memcpy(&a, input, sizeof(a));
            a.value = self->codec.count(a.selector) ? self->codec[a.selector] : 0;
            std::memcpy(output, &a, sizeof(a));
        }
        if (code == LOWER_CODE_CODEC_WRITE && input != nullptr) {
            LowerCodecAccess a;
            std::memcpy(&a, input, sizeof(a));
            self->codec[a.selector] = a.value;
        }
        return 0;
    }
    std::mutex lock;
    std::vector<ControlCall> calls;
};

// The pump's records and the controller side of the window.
class DspBench {
public:
    explicit DspBench(bool reset = true, const LowerDeviceRecord* record = nullptr)
        : context(std::make_unique<DspContext>()), block(std::make_unique<DspInterfaceBlock>())
    {
        std::memset(context.get(), 0, sizeof(DspContext));
        std::memset(block.get(), 0, sizeof(DspInterfaceBlock));
        if (record != nullptr)
            lower.record = *record;
        current = this;
        InitInterfaceBlock(block.get(), &Callback, CommandDispatcher);
        SetupLowerAudio(&audio, &lower.iface);
        InitDspContext(context.get(), &audio, block.get());
        if (reset)
            Send(0x60, {0});
        Taken();
        lower.ClearCalls();
        callbacks = 0;
    }
    ~DspBench()
    {
        if (context->command.filtersCreated)
            DestroyDspFilters(context.get());
        current = nullptr;
    }

    // Writes a command (payload, length byte, then the code) and rings the doorbell. Returns the packets the
    // controller took during the call.
    std::vector<Bytes> Send(uint8_t code, const Bytes& payload, int lengthByte = -1)
    {
        DspInterfaceBlock* b = block.get();
        for (size_t i = 0; i < payload.size() && i < 16; ++i)
            WindowStore(b, kRegCommandPayload + static_cast<int>(i), payload[i]);
        WindowStore(b, kRegCommandLength, static_cast<uint8_t>(lengthByte >= 0 ? lengthByte : payload.size()));
        WindowStore(b, kRegCommandCode, code);
        b->commandEntry(context.get());
        return Taken();
    }

    // One reply expected.
    Bytes Reply(uint8_t code, const Bytes& payload, int lengthByte = -1)
    {
        std::vector<Bytes> r = Send(code, payload, lengthByte);
        return r.size() == 1 ? r[0] : Bytes{};
    }

    std::vector<Bytes> Taken()
    {
        std::lock_guard<std::mutex> g(lock);
        std::vector<Bytes> out;
        out.swap(packets);
        return out;
    }

    uint8_t Reg(int r) { return GetRegister(block.get(), r); }

    // The controller's event routine: take the packet in registers 0-19 unless holding the mailbox.
    // Serialised per device, as the controller does.
    static void Callback(DspInterfaceBlock* b)
    {
        DspBench* self = current;
        std::lock_guard<std::mutex> serial(self->callbackLock);
        self->callbacks += 1;
        if (self->holdMailbox)
            return;
        const uint8_t code = WindowLoad(b, kRegReplyCode);
        if (code == 0)
            return;
        const uint8_t n = WindowLoad(b, kRegReplyLength);
        Bytes p{code, WindowLoad(b, 1), n, WindowLoad(b, 3)};
        for (int i = 0; i < n && i < 60; ++i)
            p.push_back(WindowLoad(b, kRegReplyPayload + i));
        {
            std::lock_guard<std::mutex> g(self->lock);
            self->packets.push_back(p);
        }
        WindowStore(b, kRegReplyCode, 0);
    }

    static inline DspBench* current = nullptr;
    FakeLower lower;
    LowerAudioInterface audio{};
    std::unique_ptr<DspContext> context;
    std::unique_ptr<DspInterfaceBlock> block;
    std::mutex lock;
    std::vector<Bytes> packets;
    std::mutex callbackLock;
    bool holdMailbox = false;
    std::atomic<uint64_t> callbacks{0};
};

}  // namespace dsptest
