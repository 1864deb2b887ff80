// The receive path: the controller callback the data pump calls after it has posted a packet, taken a
// command, moved a data chunk or raised a notification; the dispatch of received packets; the trace ring.
//
// The callback runs in the sender's thread (nested in a doorbell write) and in the data pump's block
// thread; it is serialised per device by a lock its owner may take again.
#include <atomic>
#include <cstring>

#include "layer2/corecode/mt/dsp_link.h"
#include "window/icd_packet.h"

namespace {

constexpr uint16_t kCadenceWrap = 6827;  // the data pump's time stamp wraps here (ms)

}  // namespace

void dsp_callback_lock(DspLink* link)
{
    DspRecursiveLock& l = link->callbackLock;
    const std::thread::id me = std::this_thread::get_id();
    if (l.owner.load(std::memory_order_acquire) == me) {
        ++l.depth;
        return;
    }
    KIRQL old;
    KeAcquireSpinLock(&l.lock, &old);
    l.owner.store(me, std::memory_order_release);
    l.depth = 1;
    l.oldIrql = old;
}

void dsp_callback_unlock(DspLink* link)
{
    DspRecursiveLock& l = link->callbackLock;
    if (--l.depth != 0)
        return;
    const KIRQL old = l.oldIrql;
    l.owner.store(std::thread::id(), std::memory_order_release);
    KeReleaseSpinLock(&l.lock, old);
}

namespace {

// The receive path is the only writer (under the callback lock).
void queue_event_char(DspLink* link, uint8_t c)
{
    DspEventState& e = link->events;
    const uint32_t w = e.charWrite.load(std::memory_order_relaxed);
    if (c == 0 || w - e.charRead.load(std::memory_order_acquire) >= kEventCharQueueSize) {
        e.charDropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    e.charQueue[w % kEventCharQueueSize] = c;
    e.charWrite.store(w + 1, std::memory_order_release);
}

void cadence_push(DspLink* link, const CadenceSample& s)
{
    CadenceSampleQueue& q = link->cadence;
    const uint8_t next = static_cast<uint8_t>((q.write + 1) % kCadenceQueueSize);
    if (next == q.read)
        return;  // full: the sample is dropped
    q.entries[q.write] = s;
    q.write = next;
}

void cadence_sample(DspLink* link, const ReceivedPacket& p)
{
    if (p.length < kIcdDetectorReportLength)
        return;
    const IcdDetectorReportPayload report = IcdDecodeDetectorReport(p.payload);
    if (report.kind != 1)
        return;
    const uint16_t stamp = report.timeStamp;
    const uint16_t count = report.value;
    uint32_t d = static_cast<uint16_t>(stamp - link->lastCadenceStamp);
    if (link->lastCadenceStamp >= stamp)
        d = static_cast<uint16_t>(d + kCadenceWrap);
    uint16_t rate = 0;
    if (count != 0 && d != 0)
        rate = static_cast<uint16_t>(static_cast<uint32_t>(count) * 1000u / d);
    link->lastCadenceStamp = stamp;
    cadence_push(link, CadenceSample{rate, static_cast<uint16_t>(d), stamp});
}

void event_packet(DspLink* link, const ReceivedPacket& p)
{
    if (p.length == 0)
        return;
    const IcdEventPayload event = IcdDecodeEvent(p.payload);
    const uint8_t value = event.value;
    const uint8_t kind = event.kind;
    DspEventState& e = link->events;
    if (kind == 4) {
        e.eventFlags.fetch_or(1);
    } else if (kind == 5) {
        uint16_t bits = 0;
        if (value == 6)
            bits = 0x200 | 0x800;
        else if (value > 2)
            bits = 0x200;
        uint16_t cur = e.connectionEvents.load();
        e.connectionEvents.store(static_cast<uint16_t>((cur | bits) & ~0x100));
    } else if (kind == 6) {
        e.kind6Value.store(value);
    } else {
        if (kind < 32)
            e.kindMask.fetch_or(1u << kind);
        if (kind == 0)
            e.kind0Value.store(value);
    }
}

}  // namespace

uint8_t dsp_take_queued_event_char(DspLink* link)
{
    DspEventState& e = link->events;
    const uint32_t r = e.charRead.load(std::memory_order_relaxed);
    if (r == e.charWrite.load(std::memory_order_acquire))
        return 0;
    const uint8_t c = e.charQueue[r % kEventCharQueueSize];
    e.charRead.store(r + 1, std::memory_order_release);
    return c;
}

void dsp_clear_event_chars(DspLink* link)
{
    while (dsp_take_queued_event_char(link) != 0) {
    }
}

uint8_t dsp_read_packet(DspLink* link, ReceivedPacket* destination)
{
    destination->code = dsp_reg_read(link, kRegReplyCode);
    destination->zero1 = dsp_reg_read(link, kRegReplyReserved1);
    destination->length = dsp_reg_read(link, kRegReplyLength);
    destination->zero3 = dsp_reg_read(link, kRegReplyReserved3);
    if (destination->length > kIcdMaxReceived)
        destination->length = kIcdMaxReceived;
    for (int i = 0; i < destination->length; ++i)
        destination->payload[i] = dsp_reg_read(link, kRegReplyPayload + i);
    dsp_reg_write(link, kRegReplyCode, 0);
    return destination->code;
}

void dsp_dispatch_packet(DspLink* link, uint8_t code)
{
    const ReceivedPacket& p = link->received;
    switch (code) {
    case IcdAck:
        // An acknowledgement of a command other than the one in flight (taken late, after its sender gave
        // up) ends no wait: it would hand the current sender another command's reply.
        if (p.length != 0 && p.payload[0] != link->inFlightCode.load(std::memory_order_relaxed))
            break;
        link->ackedCode = p.payload[0];
        link->replyCode = code;
        link->replyReceived.store(1, std::memory_order_release);
        break;
    case IcdEventChar:
        link->events.lastEventChar.store(p.payload[0]);
        queue_event_char(link, p.payload[0]);
        break;
    case IcdIgnoredCF:
        break;
    case IcdDetectorReport:
        cadence_sample(link, p);
        link->events.detectorReportPending.store(0);
        break;
    case IcdEvent:
        event_packet(link, p);
        break;
    case IcdTraceRecord: {
        uint8_t record[2 + kIcdMaxReceived];
        record[0] = 0;
        record[1] = p.length;
        std::memcpy(record + 2, p.payload, p.length);
        dsp_trace_append(link, record, 2 + p.length);
        break;
    }
    case IcdTraceAppend:
        dsp_trace_append(link, p.payload, p.length);
        break;
    default:
        std::memcpy(link->replyData, p.payload, sizeof link->replyData);
        link->replyCode = code;
        link->replyReceived.store(1, std::memory_order_release);
        break;
    }
}

void dsp_notify_callback(DspLink* link)
{
    if (!link->portReady.load(std::memory_order_acquire) || !link->block.load(std::memory_order_acquire))
        return;
    dsp_callback_lock(link);
    if (dsp_reg_read(link, kRegReplyCode) != 0) {
        const uint8_t code = dsp_read_packet(link, &link->received);
        dsp_dispatch_packet(link, code);
    }
    dsp_run_interrupt_routine(link);
    dsp_callback_unlock(link);
}

void dsp_run_interrupt_routine(DspLink* link)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    link->dspInterruptFlag.store(1);
    if (link->interruptRoutine)
        link->interruptRoutine(link->interruptArg);
    KeLowerIrql(old);
}

void dsp_run_interrupt_now(DspLink* link)
{
    dsp_run_interrupt_routine(link);
}

void dsp_set_interrupt_routine(DspLink* link, void (*routine)(void*), void* arg)
{
    dsp_callback_lock(link);
    link->interruptArg = arg;
    link->interruptRoutine = routine;
    dsp_callback_unlock(link);
}

bool dsp_cadence_take(DspLink* link, CadenceSample* sample)
{
    dsp_callback_lock(link);
    CadenceSampleQueue& q = link->cadence;
    bool got = false;
    if (q.read != q.write) {
        *sample = q.entries[q.read];
        q.read = static_cast<uint8_t>((q.read + 1) % kCadenceQueueSize);
        got = true;
    }
    dsp_callback_unlock(link);
    return got;
}
