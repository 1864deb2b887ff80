#include "support/v34_pair.h"

#include <time.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/register_window.h"

namespace pairtest {

namespace {

constexpr int kBlock = 96;

std::mutex gRegistryLock;
std::map<const DspInterfaceBlock*, std::pair<V34Pair*, int>> gRegistry;

uint64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

}  // namespace

struct V34Pair::Side {
    LowerDriverInterface iface{};
    LowerDeviceRecord record{};
    LowerAudioInterface audio{};
    std::unique_ptr<DspContext> context;
    std::unique_ptr<DspInterfaceBlock> block;
    int16_t rx[1024] = {};
    int16_t tx[1024] = {};
    bool wrote = false;
    LowerFormat format{9600, 96};
    std::vector<Bytes>* packets = nullptr;

    static uint16_t Read(void* handle, int16_t* buffer, uint32_t bytes)
    {
        auto* s = static_cast<Side*>(handle);
        std::memcpy(buffer, s->rx, std::min<uint32_t>(bytes, sizeof(s->rx)));
        return 1;
    }
    static uint16_t Write(void* handle, int16_t* buffer, uint32_t bytes)
    {
        auto* s = static_cast<Side*>(handle);
        std::memcpy(s->tx, buffer, std::min<uint32_t>(bytes, sizeof(s->tx)));
        s->wrote = true;
        return 1;
    }
    static int32_t Control(void* handle, uint32_t code, void* input, void* output)
    {
        auto* s = static_cast<Side*>(handle);
        if (code == LOWER_CODE_FORMAT && input != nullptr)
            std::memcpy(&s->format, input, sizeof(s->format));
        if (code == LOWER_CODE_DEVICE_RECORD && output != nullptr)
            std::memcpy(output, &s->record, sizeof(s->record));
        if (code == LOWER_CODE_PHASE2 && output != nullptr) {
            const uint32_t one = 1;
            std::memcpy(output, &one, sizeof(one));
        }
        return 0;
    }
};

double BlockTimes::Mean() const
{
    if (ns.empty())
        return 0.0;
    double sum = 0.0;
    for (uint64_t v : ns)
        sum += static_cast<double>(v);
    return sum / static_cast<double>(ns.size());
}

uint64_t BlockTimes::Percentile(double p) const
{
    if (ns.empty())
        return 0;
    std::vector<uint64_t> v = ns;
    std::sort(v.begin(), v.end());
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
    return v[k];
}

uint64_t BlockTimes::Max() const
{
    return ns.empty() ? 0 : *std::max_element(ns.begin(), ns.end());
}

int32_t MeasureOneWayLatency(const linetest::DuplexParams& params, size_t prefill, size_t n)
{
    linetest::DuplexParams p = params;
    for (linetest::DuplexSide& s : p.side) {
        s = linetest::DuplexSide{};
    }
    p.bulkDelayMs = 0.0;
    linetest::DuplexLine line(p);
    line.Prefill(prefill);
    std::vector<int16_t> a(n, 0), b(n, 0), ra(n), rb(n);
    a[0] = 16000;
    int32_t best = 0;
    int32_t at = 0;
    for (int32_t block = 0; block < 40; ++block) {
        const int16_t* out[2] = {a.data(), b.data()};
        int16_t* in[2] = {ra.data(), rb.data()};
        line.Step(out, in, n);
        a[0] = 0;
        for (size_t i = 0; i < n; ++i) {
            const int32_t v = rb[i] < 0 ? -rb[i] : rb[i];
            if (v > best) {
                best = v;
                // The sample written in block 0 is read from block 1 on.
                at = (block + 1) * static_cast<int32_t>(n) + static_cast<int32_t>(i);
            }
        }
    }
    return at;
}

V34Pair::V34Pair(const PairOptions& options) : options_(options)
{
    oneWay_ = MeasureOneWayLatency(options_.line, options_.prefill, kBlock);
    line_ = std::make_unique<linetest::DuplexLine>(options_.line);
    line_->Prefill(options_.prefill);
    const int32_t depth = (options_.depthBlocks[0] + options_.depthBlocks[1]) * kBlock;
    for (int s = 0; s < 2; ++s) {
        side_[s] = std::make_unique<Side>();
        Side& d = *side_[s];
        d.packets = &packets_[s];
        d.iface.readBlock = &Side::Read;
        d.iface.writeBlock = &Side::Write;
        d.iface.control = &Side::Control;
        d.iface.secondControl = &Side::Control;
        d.iface.handle = &d;
        d.record.rxDepthBlocks = options_.depthBlocks[0];
        d.record.txDepthBlocks = options_.depthBlocks[1];
        const int32_t extra = options_.latencyOverride >= 0 ? options_.latencyOverride : oneWay_ - depth;
        d.record.extraSamples = static_cast<uint32_t>(extra < 0 ? 0 : extra);
        d.context = std::make_unique<DspContext>();
        d.block = std::make_unique<DspInterfaceBlock>();
        std::memset(d.context.get(), 0, sizeof(DspContext));
        std::memset(d.block.get(), 0, sizeof(DspInterfaceBlock));
        {
            std::lock_guard<std::mutex> g(gRegistryLock);
            gRegistry[d.block.get()] = {this, s};
        }
        InitInterfaceBlock(d.block.get(), &Callback, CommandDispatcher);
        SetupLowerAudio(&d.audio, &d.iface);
        InitDspContext(d.context.get(), &d.audio, d.block.get());
    }
}

V34Pair::~V34Pair()
{
    for (auto& s : side_) {
        if (s->context->command.filtersCreated)
            DestroyDspFilters(s->context.get());
        std::lock_guard<std::mutex> g(gRegistryLock);
        gRegistry.erase(s->block.get());
    }
}

void V34Pair::Callback(DspInterfaceBlock* b)
{
    V34Pair* pair = nullptr;
    int side = 0;
    {
        std::lock_guard<std::mutex> g(gRegistryLock);
        auto it = gRegistry.find(b);
        if (it == gRegistry.end())
            return;
        pair = it->second.first;
        side = it->second.second;
    }
    const uint8_t code = WindowLoad(b, kRegReplyCode);
    if (code == 0)
        return;
    const uint8_t n = WindowLoad(b, kRegReplyLength);
    Bytes p{code, WindowLoad(b, 1), n, WindowLoad(b, 3)};
    for (int i = 0; i < n && i < 16; ++i)
        p.push_back(WindowLoad(b, kRegReplyPayload + i));
    pair->packets_[side].push_back(p);
    WindowStore(b, kRegReplyCode, 0);
}

std::vector<Bytes> V34Pair::Send(int s, uint8_t code, const Bytes& payload)
{
    const size_t before = packets_[s].size();
    DspInterfaceBlock* b = side_[s]->block.get();
    for (size_t i = 0; i < payload.size() && i < 16; ++i)
        WindowStore(b, kRegCommandPayload + static_cast<int>(i), payload[i]);
    WindowStore(b, kRegCommandLength, static_cast<uint8_t>(payload.size()));
    WindowStore(b, kRegCommandCode, code);
    b->commandEntry(side_[s]->context.get());
    return std::vector<Bytes>(packets_[s].begin() + static_cast<long>(before), packets_[s].end());
}

void V34Pair::StartPhase2()
{
    for (int s = 0; s < 2; ++s) {
        Send(s, 0x60, {0});
        Send(s, 0xA1, {2, 0});
        side_[s]->context->modeFlagByte = static_cast<uint8_t>(side_[s]->context->modeFlagByte | options_.modeFlagByte[s]);
        const uint8_t flags = options_.originate[s] ? 0x04 : 0x00;
        Send(s, 0x68, {9, options_.mode[s], flags, 1, options_.optionByte[s], 0});
    }
}

void V34Pair::Block()
{
    const int16_t* out[2];
    int16_t* in[2];
    for (int s = 0; s < 2; ++s) {
        Side& d = *side_[s];
        if (rxHook)
            rxHook(s, d.rx, kBlock);
        d.wrote = false;
        const uint64_t t0 = ThreadCpuNs();
        PerBlockEntry(d.context.get());
        times_[s].ns.push_back(ThreadCpuNs() - t0);
        if (!d.wrote)
            std::memset(d.tx, 0, sizeof(d.tx));
        if (afterBlock)
            afterBlock(s);
        if (txHook)
            txHook(s, d.tx, kBlock);
        out[s] = d.tx;
        in[s] = d.rx;
    }
    line_->Step(out, in, kBlock);
    ++blocks_;
}

int V34Pair::RunUntil(const std::function<bool()>& done, int maxBlocks)
{
    int n = 0;
    while (n < maxBlocks && !done()) {
        Block();
        ++n;
    }
    return n;
}

bool V34Pair::Finished(int s) const
{
    const DspContext* c = side_[s]->context.get();
    return c->v34.phase3Starts + c->pcm.modeStarts > 0;
}

bool V34Pair::BothFinished() const
{
    return Finished(0) && Finished(1);
}

DspContext* V34Pair::Context(int s) const
{
    return side_[s]->context.get();
}

uint8_t V34Pair::Register(int s, int reg) const
{
    return GetRegister(side_[s]->block.get(), reg);
}

}  // namespace pairtest
