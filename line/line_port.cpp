#include "line/line_port.h"

#include <algorithm>
#include <cstring>

#include "line/line_model.h"
#include "line/line_network.h"

namespace {

constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 48000;

// Healthy codec: register 1 of bank 1 reads 1 and register 12 reads 64.
void ResetCodec(LinePort* port)
{
    std::memset(port->codec, 0, sizeof(port->codec));
    port->codec[0][0x01] = 1;
    port->codec[0][0x0C] = 64;
}

LinePort* PortOf(void* handle)
{
    return static_cast<LinePort*>(handle);
}

// The hook relay moves (caller holds the lock).
void SetLoop(LinePort* port, bool closed)
{
    if (port->loopClosed == closed)
        return;
    port->loopClosed = closed;
    port->hookChanges[port->hookChangeCount % kLineHookChanges] =
        LineHookChange{static_cast<LONGLONG>(KeQueryInterruptTime()), closed};
    ++port->hookChangeCount;
}

void Record(LinePort* port, uint8_t entry, uint32_t code, const uint32_t* words, NTSTATUS status)
{
    LineControlRecord& r = port->log[port->logCount % kLineControlLogEntries];
    r.time = static_cast<LONGLONG>(KeQueryInterruptTime());
    r.entry = entry;
    r.code = code;
    std::memcpy(r.word, words, sizeof(r.word));
    r.status = status;
    ++port->logCount;
}

// Input record size of each code (bytes read for the log and the port's state).
size_t InputSize(uint32_t code)
{
    switch (code) {
    case LOWER_CODE_CODEC_WRITE:
    case LOWER_CODE_CODEC_READ:
        return 8;
    case LOWER_CODE_GAIN30:
        return 12;
    case LOWER_CODE_LOOP_CLOSE:
    case LOWER_CODE_LOOP_OPEN:
    case LOWER_CODE_DEVICE_RECORD:
    case LOWER_CODE_CODEC_REINIT:
    case LOWER_CODE_HOST_IDLE:
        return 0;
    case LOWER_CODE_RX_GAIN:
        return 2;
    default:
        return 4;
    }
}

// The pump writes block k during period k; the port sends it at the start of k + 1, the network carries it at
// that tick, and what comes back is read at k + 2: one block each way, plus the queued line samples.
void LatencyLocked(LinePort* port, uint16_t* rxDepthBlocks, uint16_t* txDepthBlocks, uint32_t* extraSamples)
{
    *rxDepthBlocks = 1;
    *txDepthBlocks = 1;
    uint64_t num;
    uint64_t den;
    LinePortExactRate(port, port->format.rate, &num, &den);
    const double rate = static_cast<double>(num) / static_cast<double>(den);
    const double queued = static_cast<double>(port->rxPrefill + port->txPrefill) -
                          static_cast<double>(port->format.blockLength) * kLineRate / rate;
    const double extra = std::max(0.0, queued) * rate / kLineRate;
    *extraSamples = static_cast<uint32_t>(extra + 0.5);
}

bool CodecSlot(LinePort* port, uint32_t selector, uint32_t** slot)
{
    const uint32_t bank = selector >> 24;
    const uint32_t address = selector & 0xFFFFFF;
    if ((bank != 1 && bank != 2) || address >= kLineCodecRegisters)
        return false;
    *slot = &port->codec[bank - 1][address];
    return true;
}

// Line samples (8000 Hz) per n pump samples at the given rate, rounded up.
size_t LineSamplesFor(const LinePort* port, size_t n, uint32_t rate)
{
    uint64_t num;
    uint64_t den;
    LinePortExactRate(port, rate, &num, &den);
    return static_cast<size_t>((static_cast<uint64_t>(n) * kLineRate * den + num - 1) / num);
}

// The converter between the pump's rate and the line's, in either direction.
void ConfigureConverter(const LinePort* port, Resampler* r, uint32_t rate, bool towardsLine)
{
    if (!LinePortWideband(port, rate)) {
        if (towardsLine)
            r->ConfigureRates(rate, kLineRate);
        else
            r->ConfigureRates(kLineRate, rate);
        return;
    }
    uint64_t num;
    uint64_t den;
    LinePortExactRate(port, rate, &num, &den);
    if (towardsLine)
        r->ConfigureWide(num, den, kLineRate, 1);
    else
        r->ConfigureWide(kLineRate, 1, num, den);
}

void ConfigureConverters(LinePort* port)
{
    if (port->rxConverterRate != port->format.rate) {
        ConfigureConverter(port, &port->rxConverter, port->format.rate, false);
        port->rxConverterRate = port->format.rate;
    }
    // Enough queued line samples for one block plus the converter's look-ahead and one network frame of
    // jitter: topped up at every format change.
    const size_t perBlock = LineSamplesFor(port, port->format.blockLength, port->format.rate);
    port->rxPrefill = static_cast<size_t>(port->rxConverter.Lookahead()) + perBlock + kLineFrameSamples + 4;
    if (port->rxQueue.Size() < port->rxPrefill)
        port->rxQueue.PushSilence(port->rxPrefill - port->rxQueue.Size());
    // Towards the network: one block, plus what the converter holds back (its look-ahead at the pump's rate).
    Resampler probe;
    ConfigureConverter(port, &probe, port->format.rate, true);
    const size_t held = LineSamplesFor(port, static_cast<size_t>(probe.Lookahead()), port->format.rate);
    port->txPrefill = perBlock + held + 4;
    if (port->txQueue.Size() < port->txPrefill)
        port->txQueue.PushSilence(port->txPrefill - port->txQueue.Size());
}

void PushTx(LinePort* port, const int16_t* samples, size_t n, uint32_t rate)
{
    if (port->txConverterRate != rate) {
        ConfigureConverter(port, &port->txConverter, rate, true);
        port->txConverterRate = rate;
        // A wideband converter starts by holding back its look-ahead: that much silence keeps the line's
        // stream from running dry at the change.
        if (LinePortWideband(port, rate))
            port->txQueue.PushSilence(LineSamplesFor(port, static_cast<size_t>(port->txConverter.Lookahead()), rate));
    }
    double in[1024];
    for (size_t i = 0; i < n; ++i)
        in[i] = samples != nullptr ? samples[i] : 0.0;
    port->txConverter.Push(in, n);
    double out[256];
    int16_t pcm[256];
    for (;;) {
        const size_t got = port->txConverter.Pull(out, 256);
        for (size_t i = 0; i < got; ++i)
            pcm[i] = out[i] == 0.0 ? 0 : LineSaturate(out[i]);
        port->txQueue.Push(pcm, got);
        if (got < 256)
            break;
    }
}

uint16_t ReadBlock(void* handle, int16_t* buffer, uint32_t byteCount)
{
    LinePort* port = PortOf(handle);
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const uint32_t n = byteCount / 2;
    uint16_t ok = 0;
    LONGLONG delay = 0;
    if (port->slowReads > 0) {
        --port->slowReads;
        delay = port->slowReadDelay;
    }
    if (buffer != nullptr && (byteCount & 1) == 0 && n <= 1024 && port->started) {
        const uint32_t copy = std::min<uint32_t>(n, port->rxLength);
        std::memcpy(buffer, port->rxBlock, copy * sizeof(int16_t));
        std::fill(buffer + copy, buffer + n, 0);
        ++port->stats.readCalls;
        ok = 1;
    } else {
        ++port->stats.badCalls;
    }
    KeReleaseSpinLock(&port->lock, irql);
    if (delay > 0) {
        LARGE_INTEGER interval;
        interval.QuadPart = -delay;
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
    return ok;
}

uint16_t WriteBlock(void* handle, int16_t* buffer, uint32_t byteCount)
{
    LinePort* port = PortOf(handle);
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const uint32_t n = byteCount / 2;
    uint16_t ok = 0;
    if (buffer != nullptr && (byteCount & 1) == 0 && n <= 1024 && port->started) {
        if (port->txFresh)
            ++port->stats.txOverwritten;
        std::memcpy(port->txBlock, buffer, n * sizeof(int16_t));
        port->txLength = static_cast<uint16_t>(n);
        // Samples written after a format change are already at the new rate.
        port->txRate = port->formatPending ? port->pendingFormat.rate : port->format.rate;
        port->txFresh = true;
        ++port->stats.writeCalls;
        ok = 1;
    } else {
        ++port->stats.badCalls;
    }
    KeReleaseSpinLock(&port->lock, irql);
    return ok;
}

NTSTATUS Control(LinePort* port, uint8_t entry, uint32_t code, void* input, void* output)
{
    uint32_t words[3] = {};
    const size_t size = InputSize(code);
    if (size > 0 && input == nullptr) {
        KIRQL irql;
        KeAcquireSpinLock(&port->lock, &irql);
        Record(port, entry, code, words, STATUS_INVALID_PARAMETER);
        KeReleaseSpinLock(&port->lock, irql);
        DbgPrint("line %s: control %u without its input record\n", port->config.name.c_str(), code);
        return STATUS_INVALID_PARAMETER;
    }
    if (size > 0)
        std::memcpy(words, input, size);

    NTSTATUS status = STATUS_SUCCESS;
    const char* note = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    switch (code) {
    case LOWER_CODE_LOOP_CLOSE:
        SetLoop(port, true);
        note = "loop closed (off hook)";
        break;
    case LOWER_CODE_LOOP_OPEN:
        SetLoop(port, false);
        note = "loop open (on hook)";
        break;
    case LOWER_CODE_FORMAT: {
        LowerFormat f;
        std::memcpy(&f, input, sizeof(f));
        if (f.rate < kMinRate || f.rate > kMaxRate || f.blockLength == 0 || f.blockLength > 1024) {
            status = STATUS_INVALID_PARAMETER;
            note = "format refused";
        } else {
            port->pendingFormat = f;
            port->formatPending = true;
            if (output != nullptr)
                std::memcpy(output, &f, sizeof(f));
            note = "format from the next block";
        }
        break;
    }
    case LOWER_CODE_OPTION8:
        port->option8 = words[0];
        break;
    case LOWER_CODE_PHASE2:
        if (output != nullptr) {
            const uint32_t one = 1;
            std::memcpy(output, &one, sizeof(one));
        }
        break;
    case LOWER_CODE_RX_GAIN:
        port->value11 = words[0] & 0xFFFF;
        break;
    case LOWER_CODE_QUERY12:
        if (output != nullptr) {
            const uint32_t zero = 0;
            std::memcpy(output, &zero, sizeof(zero));
        }
        break;
    case LOWER_CODE_MODE13:
        port->value13 = words[0];
        break;
    case LOWER_CODE_CODEC_WRITE: {
        uint32_t* slot;
        if (CodecSlot(port, words[0], &slot))
            *slot = words[1];
        else
            status = STATUS_INVALID_PARAMETER;
        break;
    }
    case LOWER_CODE_CODEC_READ: {
        uint32_t* slot;
        if (!CodecSlot(port, words[0], &slot)) {
            status = STATUS_INVALID_PARAMETER;
        } else if (output != nullptr) {
            LowerCodecAccess a{words[0], *slot};
            std::memcpy(output, &a, sizeof(a));
        }
        break;
    }
    case LOWER_CODE_HOST_CONTROL:
        port->hostControl = words[0];
        break;
    case LOWER_CODE_CALLER_ID:
        port->callerId = words[0];
        note = words[0] ? "caller-ID receiver on" : "caller-ID receiver off";
        break;
    case LOWER_CODE_DEVICE_RECORD:
        if (output == nullptr) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            LowerDeviceRecord r{};
            LatencyLocked(port, &r.rxDepthBlocks, &r.txDepthBlocks, &r.extraSamples);
            for (uint32_t i = 0; i < 64; ++i) {
                r.codecAddressA[i] = i;
                r.codecAddressB[i] = 0x40 + i;
            }
            r.codecMode = port->config.codecMode;
            r.watchdogEnable = port->config.watchdogEnable;
            std::memcpy(output, &r, sizeof(r));
        }
        break;
    case LOWER_CODE_CODEC_REINIT:
        ResetCodec(port);
        note = "codec re-initialised";
        break;
    case LOWER_CODE_GAIN30:
    case LOWER_CODE_HOST_ACTIVE:
    case LOWER_CODE_HOST_IDLE:
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        note = "unknown control code";
        break;
    }
    Record(port, entry, code, words, status);
    KeReleaseSpinLock(&port->lock, irql);
    DbgPrint("line %s: control %u (entry %u) {0x%x, 0x%x, 0x%x} -> 0x%08x%s%s\n", port->config.name.c_str(), code,
             entry, words[0], words[1], words[2], static_cast<unsigned>(status), note ? ": " : "", note ? note : "");
    return status;
}

int32_t ControlEntry(void* handle, uint32_t code, void* input, void* output)
{
    return Control(PortOf(handle), 1, code, input, output);
}

int32_t SecondControlEntry(void* handle, uint32_t code, void* input, void* output)
{
    return Control(PortOf(handle), 2, code, input, output);
}

// Network side of the port.
bool PortProduce(LineEndpoint* endpoint, int16_t* samples, size_t n)
{
    auto* port = static_cast<LinePort*>(endpoint->owner);
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const size_t got = port->txQueue.Pop(samples, n);
    if (got < n) {
        std::fill(samples + got, samples + n, 0);
        if (port->started)
            ++port->stats.txUnderruns;
    }
    KeReleaseSpinLock(&port->lock, irql);
    if (port->txCapture.file != nullptr)
        SampleFileWrite(&port->txCapture, samples, n);
    return true;
}

bool PortConsume(LineEndpoint* endpoint, const int16_t* samples, size_t n)
{
    auto* port = static_cast<LinePort*>(endpoint->owner);
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    if (port->rxQueue.Push(samples, n) < n)
        ++port->stats.rxOverflows;
    KeReleaseSpinLock(&port->lock, irql);
    if (port->rxCapture.file != nullptr)
        SampleFileWrite(&port->rxCapture, samples, n);
    return true;
}

void PortAbort(LineEndpoint*) {}
void PortClose(LineEndpoint*) {}

const LineEndpointOps kPortOps = {PortProduce, PortConsume, PortAbort, PortClose};

}  // namespace

void LinePortInit(LinePort* port, LineNetwork* network, const LinePortConfig& config)
{
    port->endpoint.ops = &kPortOps;
    port->endpoint.kind = "port";
    port->endpoint.owner = port;
    port->config = config;
    port->network = network;
    KeInitializeSpinLock(&port->lock);
    port->iface = LowerDriverInterface{};
    port->iface.readBlock = ReadBlock;
    port->iface.writeBlock = WriteBlock;
    port->iface.control = ControlEntry;
    port->iface.secondControl = SecondControlEntry;
    port->iface.handle = port;
    ResetCodec(port);
}

LowerDriverInterface* LinePortStart(LinePort* port, PKEVENT blockEvent)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    port->blockEvent = blockEvent;
    port->format = LowerFormat{9600, 96};
    port->formatPending = false;
    port->rxLength = 0;
    port->txFresh = false;
    port->txRate = 9600;
    port->rxConverterRate = 0;
    port->txConverterRate = 0;
    port->rxQueue.Clear();
    port->txQueue.Clear();
    ConfigureConverters(port);
    ConfigureConverter(port, &port->txConverter, port->format.rate, true);
    port->txConverterRate = port->format.rate;
    port->epoch = static_cast<LONGLONG>(KeQueryInterruptTime());
    port->epochSamples = 0;
    port->nextDue = port->epoch;
    SetLoop(port, false);
    port->started = true;
    KeReleaseSpinLock(&port->lock, irql);
    LineNetworkPortStarted(port->network, port);
    return &port->iface;
}

void LinePortStop(LinePort* port)
{
    LineNetworkPortStopping(port->network, port);
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    port->started = false;
    port->blockEvent = nullptr;
    SetLoop(port, false);  // a card that is gone holds no line
    KeReleaseSpinLock(&port->lock, irql);
}

void LinePortBlockTick(LinePort* port, LONGLONG now)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    if (!port->started) {
        KeReleaseSpinLock(&port->lock, irql);
        return;
    }
    // 1. The block the pump wrote during the last period goes to the network, at the rate it was written in.
    if (port->txFresh) {
        PushTx(port, port->txBlock, port->txLength, port->txRate);
        port->txFresh = false;
    } else {
        if (port->stats.blocks > 0)
            ++port->stats.txMissing;
        PushTx(port, nullptr, port->format.blockLength, port->format.rate);
    }
    // 2. A format sent during the last period applies from this block on.
    if (port->formatPending) {
        port->format = port->pendingFormat;
        port->formatPending = false;
        ConfigureConverters(port);
        port->epoch = port->nextDue;
        port->epochSamples = 0;
    }
    // 3. The next receive block, from the line samples queued so far.
    const size_t b = port->format.blockLength;
    int16_t pcm[256];
    double in[256];
    size_t need = port->rxConverter.InputNeeded(b);
    while (need > 0) {
        const size_t chunk = std::min<size_t>(need, 256);
        const size_t got = port->rxQueue.Pop(pcm, chunk);
        for (size_t i = 0; i < got; ++i)
            in[i] = pcm[i];
        port->rxConverter.Push(in, got);
        if (got < chunk) {
            ++port->stats.rxUnderruns;
            port->rxConverter.PushSilence(chunk - got);
        }
        need -= chunk;
    }
    double out[1024];
    const size_t made = port->rxConverter.Pull(out, b);
    for (size_t i = 0; i < made; ++i)
        port->rxBlock[i] = out[i] == 0.0 ? 0 : LineSaturate(out[i]);  // silence without rounding
    std::fill(port->rxBlock + made, port->rxBlock + b, 0);
    port->rxLength = static_cast<uint16_t>(b);
    // 4. The block clock: the next block starts after b more samples at the current rate.
    port->epochSamples += b;
    uint64_t num;
    uint64_t den;
    LinePortExactRate(port, port->format.rate, &num, &den);
    port->nextDue = port->epoch + static_cast<LONGLONG>(static_cast<unsigned __int128>(port->epochSamples) *
                                                        10000000u * den / num);
    ++port->stats.blocks;
    // Set under the lock: once LinePortStop has cleared the event, no tick can set it any more.
    if (port->blockEvent != nullptr)
        KeSetEvent(port->blockEvent, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&port->lock, irql);
    (void)now;
}

void LinePortExactRate(const LinePort* port, uint32_t rate, uint64_t* numerator, uint64_t* denominator)
{
    (void)port;
    ExactPumpRate(rate, numerator, denominator);
}

bool LinePortWideband(const LinePort* port, uint32_t rate)
{
    if (rate == 8229 || rate == 8400 || rate == 9000 || rate == 10287)
        return true;
    return port->config.wideband && rate > static_cast<uint32_t>(kLineRate);
}

void LinePortNoteIoctl(LinePort* port, ULONG code)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    ++port->stats.ioctls;
    port->stats.lastIoctl = code;
    KeReleaseSpinLock(&port->lock, irql);
}

bool LinePortSetCaptures(LinePort* port, const std::string& txPath, const std::string& rxPath, std::string* error)
{
    LinePortCloseCaptures(port);
    if (!txPath.empty() && !SampleFileOpenWrite(&port->txCapture, txPath, LineFileFormatOf(txPath), error))
        return false;
    if (!rxPath.empty() && !SampleFileOpenWrite(&port->rxCapture, rxPath, LineFileFormatOf(rxPath), error)) {
        SampleFileCloseWrite(&port->txCapture);
        return false;
    }
    return true;
}

void LinePortCloseCaptures(LinePort* port)
{
    SampleFileCloseWrite(&port->txCapture);
    SampleFileCloseWrite(&port->rxCapture);
}

LinePortStats LinePortGetStats(LinePort* port)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    LinePortStats s = port->stats;
    KeReleaseSpinLock(&port->lock, irql);
    return s;
}

size_t LinePortGetLog(LinePort* port, LineControlRecord* out, size_t max)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const uint64_t count = port->logCount;
    const uint64_t first = count > kLineControlLogEntries ? count - kLineControlLogEntries : 0;
    size_t n = 0;
    for (uint64_t i = first; i < count && n < max; ++i)
        out[n++] = port->log[i % kLineControlLogEntries];
    KeReleaseSpinLock(&port->lock, irql);
    return n;
}

LowerFormat LinePortGetFormat(LinePort* port)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    LowerFormat f = port->format;
    KeReleaseSpinLock(&port->lock, irql);
    return f;
}

bool LinePortStarted(LinePort* port)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const bool started = port->started;
    KeReleaseSpinLock(&port->lock, irql);
    return started;
}

bool LinePortLoopClosed(LinePort* port)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const bool closed = port->loopClosed;
    KeReleaseSpinLock(&port->lock, irql);
    return closed;
}

size_t LinePortHookChanges(LinePort* port, uint64_t* cursor, LineHookChange* out, size_t max)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    const uint64_t count = port->hookChangeCount;
    uint64_t next = std::min(*cursor, count);
    if (count - next > kLineHookChanges)
        next = count - kLineHookChanges;
    size_t n = 0;
    for (; next < count && n < max; ++next)
        out[n++] = port->hookChanges[next % kLineHookChanges];
    *cursor = next;
    KeReleaseSpinLock(&port->lock, irql);
    return n;
}

void LinePortSetSlowReads(LinePort* port, uint32_t count, LONGLONG delay100ns)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    port->slowReads = count;
    port->slowReadDelay = delay100ns;
    KeReleaseSpinLock(&port->lock, irql);
}

void LinePortSetCodecRegister(LinePort* port, uint32_t selector, uint32_t value)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    uint32_t* slot;
    if (CodecSlot(port, selector, &slot))
        *slot = value;
    KeReleaseSpinLock(&port->lock, irql);
}

void LinePortLatency(LinePort* port, uint16_t* rxDepthBlocks, uint16_t* txDepthBlocks, uint32_t* extraSamples)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    LatencyLocked(port, rxDepthBlocks, txDepthBlocks, extraSamples);
    KeReleaseSpinLock(&port->lock, irql);
}
