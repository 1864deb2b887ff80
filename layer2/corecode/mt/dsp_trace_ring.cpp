// The 3072-byte trace ring: records from the data pump's trace packets, drained after every successful
// send. Records are appended whole or refused when they do not fit, so unread records are never overwritten.
#include "layer2/corecode/mt/dsp_link.h"

namespace {

int used_of(uint16_t read, uint16_t write)
{
    return (write + kDspTraceRingSize - read) % kDspTraceRingSize;
}

uint8_t peek(const DspLink* link, int offset)
{
    return link->traceRing[(link->traceRead + offset) % kDspTraceRingSize];
}

// Bytes a record takes by its first byte; 0 for a byte that starts no record.
int record_size(const DspLink* link, int used)
{
    const uint8_t kind = peek(link, 0);
    if (kind <= 0x0F)
        return used >= 2 ? 2 + peek(link, 1) : 2;
    if (kind >= 0x40 && kind <= 0x4F)
        return 4;
    if (kind <= 0x6F)
        return 2;
    return 0;
}

}  // namespace

bool dsp_trace_append(DspLink* link, const uint8_t* bytes, int count)
{
    if (count <= 0)
        return true;
    dsp_callback_lock(link);
    const int room = kDspTraceRingSize - 1 - used_of(link->traceRead, link->traceWrite);
    bool ok = count <= room;
    if (ok) {
        for (int i = 0; i < count; ++i) {
            link->traceRing[link->traceWrite] = bytes[i];
            link->traceWrite = static_cast<uint16_t>((link->traceWrite + 1) % kDspTraceRingSize);
        }
    } else {
        ++link->traceDropped;
    }
    dsp_callback_unlock(link);
    return ok;
}

int dsp_trace_used(const DspLink* link)
{
    return used_of(link->traceRead, link->traceWrite);
}

bool dsp_drain_trace_ring(DspLink* link)
{
    dsp_callback_lock(link);
    bool took = false;
    uint8_t record[4] = {};
    int recordSize = 0;
    const int used = used_of(link->traceRead, link->traceWrite);
    if (used > 0) {
        const int size = record_size(link, used);
        if (size == 0) {
            // A byte that starts no record is dropped, so the ring keeps draining.
            link->traceRead = static_cast<uint16_t>((link->traceRead + 1) % kDspTraceRingSize);
            ++link->traceDropped;
            took = true;
        } else if (size <= used) {
            // Table upload records are consumed here (the table dialogue that would take their bytes is not
            // part of this link); patch download records are run below, once the ring is let go.
            const uint8_t kind = peek(link, 0);
            if ((kind >= 0x20 && kind <= 0x2F) || (kind >= 0x40 && kind <= 0x6F)) {
                recordSize = size;
                for (int i = 0; i < size; ++i)
                    record[i] = peek(link, i);
            }
            link->traceRead = static_cast<uint16_t>((link->traceRead + size) % kDspTraceRingSize);
            took = true;
        }
    }
    dsp_callback_unlock(link);
    if (recordSize == 4)
        dsp_patch_download(link, 0x40, record[1], static_cast<uint16_t>(record[2] | (record[3] << 8)),
                           static_cast<uint8_t>(record[0] & 0x0F));
    else if (recordSize == 2)
        dsp_patch_download(link, static_cast<uint8_t>(record[0] & 0xF0), record[1], 0, 0);
    return took;
}
