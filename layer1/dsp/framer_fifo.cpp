// The framer's FIFOs and their links to the data mailboxes.
#include "layer1/dsp/framer.h"

namespace {

// The ring position after i (both positions stay below kFramerFifoEntries).
uint32_t NextPosition(uint32_t i) { return i + 1 == kFramerFifoEntries ? 0 : i + 1; }

bool FifoPut(FramerFifo* f, uint16_t entry)
{
    if (f->count >= kFramerFifoEntries)
        return false;
    f->entry[f->write] = entry;
    f->write = NextPosition(f->write);
    ++f->count;
    return true;
}

uint16_t FifoPeek(const FramerFifo* f) { return f->entry[f->read]; }

void FifoDrop(FramerFifo* f)
{
    f->read = NextPosition(f->read);
    --f->count;
}

}  // namespace

int FifoFree(const FramerFifo* fifo) { return kFramerFifoEntries - static_cast<int>(fifo->count); }

// A data byte keeps the last free entry for a status, so the end of a frame that lost bytes still reaches
// the controller; a frame that lost a byte is closed as bad by the receive side.
void RxFifoPush(BitStreamFramer* framer, uint16_t entry)
{
    FramerFifo* f = &framer->rx.fifo;
    const int needed = entry < 256 ? 2 : 1;
    if (FifoFree(f) < needed) {
        ++framer->counters.rxOverruns;
        if (entry < 256)
            framer->rx.lostInFrame = 1;
    } else {
        FifoPut(f, entry);
    }
    if (FifoFree(f) < 99)
        FramerPostRxBytes(framer);
}

void FramerPostRxBytes(BitStreamFramer* framer)
{
    FramerFifo* f = &framer->rx.fifo;
    const FramerPort& port = framer->port;
    if (f->count == 0 || port.rxMailboxFree == nullptr || !port.rxMailboxFree(port.owner))
        return;
    uint8_t bytes[kMailboxBytes];
    uint8_t count = 0;
    uint8_t flags = 0;
    while (f->count != 0 && count < kMailboxBytes) {
        const uint16_t e = FifoPeek(f);
        FifoDrop(f);
        if (e >= 256) {
            flags = static_cast<uint8_t>(e >> 8);
            break;
        }
        bytes[count++] = static_cast<uint8_t>(e);
    }
    port.postRxBytes(port.owner, flags, count, bytes);
}

int TxFifoPop(BitStreamFramer* framer, uint16_t* entry)
{
    FramerFifo* f = &framer->tx.fifo;
    const FramerPort& port = framer->port;
    if (f->count == 0 && port.txChunkWaiting != nullptr) {
        const int waiting = port.txChunkWaiting(port.owner);
        if (waiting >= 0 && waiting < FifoFree(f) - 1) {
            uint8_t flags = 0;
            uint8_t count = 0;
            uint8_t bytes[kMailboxBytes];
            if (port.fetchTxBytes(port.owner, &flags, &count, bytes)) {
                port.txDataWanted(port.owner, 0);
                for (int i = 0; i < count && i < kMailboxBytes; ++i)
                    FifoPut(f, bytes[i]);
                if (flags != 0)
                    FifoPut(f, static_cast<uint16_t>(flags << 8));
            }
        }
    }
    if (f->count != 0) {
        *entry = FifoPeek(f);
        FifoDrop(f);
        return 1;
    }
    if (port.txDataWanted != nullptr)
        port.txDataWanted(port.owner, 1);
    return 0;
}
