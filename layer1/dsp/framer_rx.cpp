// Receive side of the framer: bits in any grouping become characters, bytes or HDLC frames with status
// codes in the receive FIFO.
#include "layer1/dsp/framer.h"

namespace {

void Drop(FramerRxState* rx, int32_t n)
{
    rx->bits >>= n;
    rx->count -= n;
}

uint16_t Status(uint8_t code) { return static_cast<uint16_t>(code << 8); }

// Bits the current (type, state) needs before its handler runs.
int32_t Threshold(const FramerRxState* rx)
{
    switch (rx->type) {
    case 1:
        return 8;
    case 2:
        return rx->state == 1 ? 8 : 5;
    case 6:
        return rx->state == 0 ? 16 : 8;
    default:
        return rx->state == 1 ? 10 : 11;
    }
}

void AsyncStep(BitStreamFramer* f)
{
    FramerRxState* rx = &f->rx;
    if (rx->state == 0) {
        // Start hunt.
        const uint64_t all = (uint64_t{1} << rx->count) - 1;
        if ((rx->bits & all) == all) {
            Drop(rx, rx->count);
            return;
        }
        while ((rx->bits & 0x1Fu) == 0x1Fu)
            Drop(rx, 5);
        while ((rx->bits & 1u) != 0)
            Drop(rx, 1);
        Drop(rx, 1);  // the start bit
        rx->state = 1;
        return;
    }
    if (rx->state == 1) {
        // Character: eight data bits and the stop bit.
        if ((rx->bits & 0x1FFu) == 0)
            ++rx->zeroChars;
        else
            rx->zeroChars = 0;
        if (rx->zeroChars == 2) {
            Drop(rx, 9);
            rx->zeroChars = 0;
            RxFifoPush(f, Status(kRxBreak));
            rx->state = 2;
            return;
        }
        RxFifoPush(f, static_cast<uint16_t>(rx->bits & 0xFFu));
        Drop(rx, 8);
        if ((rx->bits & 1u) == 0) {
            Drop(rx, 1);          // missing stop bit: taken as the next start bit
        } else if ((rx->bits & 2u) == 0) {
            Drop(rx, 2);          // stop bit and the next start bit
        } else {
            Drop(rx, 2);
            rx->state = 0;
        }
        return;
    }
    // Break end: the first one bit.
    const uint64_t all = (uint64_t{1} << rx->count) - 1;
    if ((rx->bits & all) == 0) {
        Drop(rx, rx->count);
        return;
    }
    while ((rx->bits & 1u) == 0)
        Drop(rx, 1);
    Drop(rx, 1);
    RxFifoPush(f, Status(kRxBreakEnd));
    rx->state = 0;
}

void SyncStep(BitStreamFramer* f)
{
    FramerRxState* rx = &f->rx;
    if (rx->type == 6 && rx->state == 0) {
        while (rx->count >= 16 && (rx->bits & 0xFFFFu) != 0xFFFFu) {
            if ((rx->bits & 0xFFFu) == 0x21Fu) {
                RxFifoPush(f, 0x21);
                Drop(rx, 12);
                rx->state = 1;
                return;
            }
            Drop(rx, 1);
        }
        if (rx->count >= 16)
            Drop(rx, 8);  // sixteen ones
        return;
    }
    RxFifoPush(f, static_cast<uint16_t>(rx->bits & 0xFFu));
    Drop(rx, 8);
}

void CloseFrame(BitStreamFramer* f, int32_t s)
{
    FramerRxState* rx = &f->rx;
    // A well-formed frame ends on a byte boundary: what waits in the data register is the closing flag's
    // leading zero and the ones after it.
    const bool aligned = rx->dataCount == rx->run + 1;
    if (rx->fcs == 0xF0B8u && aligned && rx->lostInFrame == 0) {
        RxFifoPush(f, Status(kRxGoodFrame));
        f->counters.lastFrameBad = 0;
    } else {
        RxFifoPush(f, Status(kRxBadFrame));
        ++f->counters.badFrames;
        if (f->counters.lastFrameBad == 0)
            ++f->counters.errorRuns;
        f->counters.lastFrameBad = 1;
    }
    rx->lostInFrame = 0;
    Drop(rx, s + 1);
    rx->state = 1;
}

void AppendData(BitStreamFramer* f, uint32_t bits, int32_t n)
{
    FramerRxState* rx = &f->rx;
    rx->data |= bits << rx->dataCount;
    rx->dataCount += n;
    if (rx->dataCount >= 8) {
        const uint8_t byte = static_cast<uint8_t>(rx->data & 0xFFu);
        rx->fcs = FramerFcsUpdate(&f->tables, rx->fcs, byte);
        RxFifoPush(f, byte);
        rx->data >>= 8;
        rx->dataCount -= 8;
    }
}

void HdlcStep(BitStreamFramer* f)
{
    FramerRxState* rx = &f->rx;
    const FramerTables& t = f->tables;
    if (rx->state == 0) {
        // Flag hunt.
        const uint32_t g = static_cast<uint32_t>(rx->bits & 0x1Fu);
        const int32_t s = t.onesAtStart[g];
        if (rx->run + s == 6 && s < 5) {
            Drop(rx, s + 1);
            ++f->counters.flagsReceived;
            rx->run = 0;
            rx->state = 1;
        } else if (s == 5) {
            rx->run = rx->run + s < 7 ? rx->run + s : 7;
            Drop(rx, 5);
        } else {
            rx->run = t.onesAtEnd[g];
            Drop(rx, 5);
        }
        return;
    }
    if (rx->state == 1) {
        // After a flag: more flags, or the start of a frame.
        if ((rx->bits & 0xFFu) == 0x7Eu) {
            ++f->counters.flagsReceived;
            Drop(rx, 8);
            return;
        }
        rx->fcs = 0xFFFF;
        rx->run = 0;
        rx->data = 0;
        rx->dataCount = 0;
        rx->lostInFrame = 0;
        rx->state = 2;
        return;
    }
    // Frame data, five bits at a time.
    const uint32_t g = static_cast<uint32_t>(rx->bits & 0x1Fu);
    const int32_t s = t.onesAtStart[g];
    const int32_t e = rx->run + s;
    if (e <= 4) {
        AppendData(f, g, 5);
        rx->run = t.onesAtEnd[g];
        Drop(rx, 5);
    } else if (e == 5 && s < 5) {
        // The bit at position s is a stuffed zero.
        const uint32_t rest = (g & t.mask[s]) | ((g >> (s + 1)) << s);
        AppendData(f, rest, 4);
        rx->run = t.onesAtEnd[g];
        Drop(rx, 5);
    } else if (s == 5 && (e == 5 || e == 6)) {
        AppendData(f, g, 5);
        rx->run = e;
        Drop(rx, 5);
    } else if (e == 6) {
        CloseFrame(f, s);
    } else {
        RxFifoPush(f, Status(kRxAbort));
        rx->lostInFrame = 0;
        Drop(rx, s);
        rx->run = 7;
        rx->state = 0;
    }
}

}  // namespace

void InitRxFramer(BitStreamFramer* framer, int32_t type)
{
    framer->rx.type = type;
    RestartRxFramer(framer);
}

void RestartRxFramer(BitStreamFramer* framer)
{
    FramerRxState* rx = &framer->rx;
    rx->state = 0;
    rx->bits = 0;
    rx->count = 0;
    rx->zeroChars = 0;
    rx->run = 7;
    rx->fcs = 0xFFFF;
    rx->data = 0;
    rx->dataCount = 0;
    rx->lostInFrame = 0;
    BuildFramerTables(&framer->tables);
}

void FramerPutRxBits(BitStreamFramer* framer, uint32_t bits, int32_t n)
{
    FramerRxState* rx = &framer->rx;
    if (n <= 0)
        return;
    if (n > 16)
        n = 16;
    rx->bits |= static_cast<uint64_t>(bits & ((1u << n) - 1u)) << rx->count;
    rx->count += n;
    while (rx->count >= Threshold(rx)) {
        switch (rx->type) {
        case 1:
        case 6:
            SyncStep(framer);
            break;
        case 2:
            HdlcStep(framer);
            break;
        default:
            AsyncStep(framer);
            break;
        }
    }
}
