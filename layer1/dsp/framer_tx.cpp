// Transmit side of the framer: byte chunks from the transmit FIFO become asynchronous characters,
// synchronous bytes or HDLC frames, handed out any number of bits at a time.
#include "layer1/dsp/framer.h"

#include <bit>

namespace {

void Append(FramerTxState* tx, uint64_t bits, int32_t n)
{
    tx->bits |= bits << tx->count;
    tx->count += n;
}

int32_t TakeBits(FramerTxState* tx, int32_t n)
{
    const int32_t out = static_cast<int32_t>(tx->bits & ((1u << n) - 1u));
    tx->bits >>= n;
    tx->count -= n;
    return out;
}

// Fills the output up to n bits with ones (1) or zeros (0).
void Pad(FramerTxState* tx, int32_t n, int ones)
{
    if (tx->count >= n)
        return;
    if (ones != 0)
        Append(tx, (uint64_t{1} << (n - tx->count)) - 1, n - tx->count);
    else
        tx->count = n;
}

int32_t AsyncBits(BitStreamFramer* f, int32_t n)
{
    FramerTxState* tx = &f->tx;
    if (tx->breakPending != 0) {
        // 23 zero bits, then one mark bit: without it a character sent straight after the break would lose
        // its start bit to the end of the break at the receiver.
        tx->breakPending = 0;
        Append(tx, uint64_t{1} << 23, 24);
    }
    while (tx->count < n) {
        uint16_t e;
        if (TxFifoPop(f, &e) == 0 || e == (kTxIdle << 8) || e == (kTxIdle2 << 8)) {
            if (tx->type == 5 && tx->count == 0)
                return -1;
            Pad(tx, n, 1);
            break;
        }
        if (e < 256) {
            if (tx->type == 5 && e == 0xFF)
                Append(tx, 0x3FF, 10);
            else
                Append(tx, (uint64_t{e} << 1) | 0x200u, 10);
        } else if (e == (kTxBreak << 8)) {
            Pad(tx, n, 0);
            tx->breakPending = 1;
            break;
        } else if (e == (kTxStop << 8)) {
            Pad(tx, n, 0);
            break;
        }
    }
    return TakeBits(tx, n);
}

int32_t SyncBits(BitStreamFramer* f, int32_t n)
{
    FramerTxState* tx = &f->tx;
    while (tx->count < n) {
        uint16_t e;
        if (TxFifoPop(f, &e) == 0) {
            Pad(tx, n, 1);
            break;
        }
        Append(tx, e & 0xFFu, 8);
    }
    return TakeBits(tx, n);
}

// One bits at the end of the low len bits of v (1 <= len <= 31): the leading ones once those bits are moved
// to the top of the word.
int32_t OnesAtEnd(uint32_t v, int32_t len)
{
    return std::countl_one(v << (32 - len));
}

// Moves up to five waiting bits to the output, inserting a zero after five ones in a row.
void StuffGroup(BitStreamFramer* f)
{
    FramerTxState* tx = &f->tx;
    const int32_t a = tx->waitCount < 5 ? tx->waitCount : 5;
    if (a == 0)
        return;
    const uint32_t g = static_cast<uint32_t>(tx->waiting & f->tables.mask[a]);
    tx->waiting >>= a;
    tx->waitCount -= a;
    const int32_t s = f->tables.onesAtStart[g];
    if (tx->run + s >= 5) {
        const int32_t k = 5 - tx->run;  // the zero goes after the k-th one of the group
        const uint32_t out = (g & f->tables.mask[k]) | ((g >> k) << (k + 1));
        Append(tx, out, a + 1);
        tx->run = OnesAtEnd(out, a + 1);
    } else {
        Append(tx, g, a);
        tx->run = OnesAtEnd(g, a) == a ? tx->run + a : OnesAtEnd(g, a);
    }
}

void StuffAll(BitStreamFramer* f)
{
    while (f->tx.waitCount > 0)
        StuffGroup(f);
}

int32_t HdlcBits(BitStreamFramer* f, int32_t n)
{
    FramerTxState* tx = &f->tx;
    while (tx->count < n) {
        if (tx->waitCount >= 5) {
            StuffGroup(f);
            continue;
        }
        if (tx->inFrame == 0) {
            StuffAll(f);
            Append(tx, 0x7E, 8);
            tx->run = 0;
            tx->fcs = 0xFFFF;
            tx->inFrame = 1;
            continue;
        }
        uint16_t e;
        if (TxFifoPop(f, &e) == 0) {
            // Idle flags; bits still waiting go out first so the order of the bits is kept.
            StuffAll(f);
            Append(tx, 0x7E, 8);
            tx->run = 0;
            continue;
        }
        if (e < 256) {
            tx->fcs = FramerFcsUpdate(&f->tables, tx->fcs, static_cast<uint8_t>(e));
            tx->waiting |= uint64_t{e} << tx->waitCount;
            tx->waitCount += 8;
            StuffGroup(f);
        } else if (e == (kTxEndOfFrame << 8)) {
            const uint16_t fcs = static_cast<uint16_t>(~tx->fcs);
            tx->waiting |= uint64_t{fcs} << tx->waitCount;
            tx->waitCount += 16;
            StuffGroup(f);
            tx->inFrame = 0;
        } else if (e >= (kTxAbort << 8)) {
            tx->fcs = 0xFFFF;
            tx->bits = 0x7EFFu;
            tx->count = 16;
            tx->waiting = 0;
            tx->waitCount = 0;
            tx->run = 0;
        }
    }
    return TakeBits(tx, n);
}

}  // namespace

void InitTxFramer(BitStreamFramer* framer, int32_t type)
{
    framer->tx.type = type;
    framer->tx.fifo.read = 0;
    framer->tx.fifo.write = 0;
    framer->tx.fifo.count = 0;
    RestartTxFramer(framer);
}

void RestartTxFramer(BitStreamFramer* framer)
{
    FramerTxState* tx = &framer->tx;
    BuildFramerTables(&framer->tables);
    tx->bits = 0;
    tx->count = 0;
    tx->waiting = 0;
    tx->waitCount = 0;
    tx->run = 0;
    tx->fcs = 0xFFFF;
    tx->breakPending = 0;
    // HDLC: the first data byte needs no opening flag of its own, but the line gets one flag before it.
    tx->inFrame = 1;
    if (tx->type == 2)
        Append(tx, 0x7E, 8);
}

int32_t FramerGetTxBits(BitStreamFramer* framer, int32_t n)
{
    if (n <= 0)
        return 0;
    if (n > 16)
        n = 16;
    switch (framer->tx.type) {
    case 1:
        return SyncBits(framer, n);
    case 2:
        return HdlcBits(framer, n);
    default:
        return AsyncBits(framer, n);
    }
}
