// The bit-stream framer between the modulators (bits) and the controller (byte chunks in the data mailboxes).
//
// Types, the same numbers for both directions: 0, 3, 4 asynchronous characters (start 0, eight data bits
// least significant first, stop 1); 1 synchronous bytes; 2 HDLC (flags, zero-bit insertion, FCS-16);
// 5 asynchronous with mark idle on transmit; 6 asynchronous transmit, synchronous receive after a 12-bit
// sync pattern.
//
// The framer reaches the mailboxes through a small table of functions (FramerPort), so it runs the same on
// the register window and on a test's stand-in mailboxes.
#pragma once

#include <cstdint>

#include "window/register_map.h"

constexpr int kFramerFifoEntries = 130;

struct FramerPort {
    void* owner;
    // Posts one receive chunk; 1 when written, 0 when the mailbox was busy.
    int (*postRxBytes)(void* owner, uint8_t flags, uint8_t count, const uint8_t* bytes);
    // 1 when the receive mailbox (count and flags) is empty.
    int (*rxMailboxFree)(void* owner);
    // Count of the waiting transmit chunk; -1 when none waits (count and flags both 0).
    int (*txChunkWaiting)(void* owner);
    // Takes the waiting transmit chunk; 1 when one was taken.
    int (*fetchTxBytes)(void* owner, uint8_t* flags, uint8_t* count, uint8_t* bytes);
    // Sets (1) or clears (0) the transmit-data-wanted status bit and notifies the controller.
    void (*txDataWanted)(void* owner, int set);
};

// A ring of 16-bit entries: below 256 a data byte, 256 x c a status code c.
struct FramerFifo {
    uint16_t entry[kFramerFifoEntries];
    uint32_t read;
    uint32_t write;
    uint32_t count;
};

// Tables built at every transmit restart.
struct FramerTables {
    uint32_t mask[33];           // entry k = 2^k - 1
    uint16_t crcLow[16];         // reflected CRC-16 (0x8408) nibble tables
    uint16_t crcHigh[16];
    uint8_t onesAtStart[32];     // of a 5-bit group, first bit in bit 0: ones from bit 0 upward
    uint8_t onesAtEnd[32];       // ones from bit 4 downward
};

struct FramerRxState {
    int32_t type;
    int32_t state;
    uint64_t bits;               // next bit in bit 0
    int32_t count;
    int32_t zeroChars;           // asynchronous: all-zero characters in a row
    int32_t run;                 // HDLC: consecutive one bits
    uint16_t fcs;
    uint32_t data;               // HDLC: destuffed bits not yet a byte
    int32_t dataCount;
    int32_t lostInFrame;         // a byte of the current frame found the FIFO full
    FramerFifo fifo;
};

struct FramerTxState {
    int32_t type;
    uint64_t bits;               // output bits, next in bit 0
    int32_t count;
    uint64_t waiting;            // HDLC: bits before stuffing
    int32_t waitCount;
    int32_t run;                 // HDLC: one bits at the end of the output
    uint16_t fcs;
    int32_t inFrame;
    int32_t breakPending;        // asynchronous: the next call starts with a break
    FramerFifo fifo;
};

struct FramerCounters {
    uint32_t flagsReceived;
    uint32_t badFrames;
    uint32_t errorRuns;          // bad frames that followed a good one
    uint32_t lastFrameBad;
    uint32_t rxOverruns;         // entries dropped at a full receive FIFO
};

struct BitStreamFramer {
    FramerPort port;
    FramerTables tables;
    FramerRxState rx;
    FramerTxState tx;
    FramerCounters counters;
};

void BuildFramerTables(FramerTables* tables);
// The FCS after one more byte (inline: both directions update it once per byte).
inline uint16_t FramerFcsUpdate(const FramerTables* t, uint16_t fcs, uint8_t byte)
{
    return static_cast<uint16_t>((fcs >> 8) ^ t->crcLow[(fcs ^ byte) & 0xFu] ^
                                 t->crcHigh[((fcs >> 4) ^ (byte >> 4)) & 0xFu]);
}

void InitRxFramer(BitStreamFramer* framer, int32_t type);
void RestartRxFramer(BitStreamFramer* framer);
void InitTxFramer(BitStreamFramer* framer, int32_t type);
void RestartTxFramer(BitStreamFramer* framer);

// Appends n received bits (0 < n <= 16, first bit in bit 0) and runs the receive state machine.
void FramerPutRxBits(BitStreamFramer* framer, uint32_t bits, int32_t n);
// The next n transmit bits (0 < n <= 16) in the low bits, or -1 (type 5 with nothing to send).
int32_t FramerGetTxBits(BitStreamFramer* framer, int32_t n);
// Moves up to 32 received bytes, ended by the first status entry, into the receive mailbox.
void FramerPostRxBytes(BitStreamFramer* framer);

// FIFO primitives.
void RxFifoPush(BitStreamFramer* framer, uint16_t entry);
// Next transmit entry: 1 and *entry set, or 0 when nothing is available.
int TxFifoPop(BitStreamFramer* framer, uint16_t* entry);
int FifoFree(const FramerFifo* fifo);
