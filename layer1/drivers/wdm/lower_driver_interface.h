// The sample-stream driver's entry points, handed up through the START request's Information field.
//
// A plain record shared by the data pump (which calls it) and the line stand-in (which implements it); it
// includes nothing of either side. Field order is the card driver's; the byte offsets it documents
// (4, 8, 12, 16, 40) are 32-bit facts, so neither side ever computes an offset: both use this struct.
#pragma once

#include <cstdint>

// One block of 16-bit samples in or out. Returns non-zero on success.
typedef uint16_t (*LowerBlockRoutine)(void* handle, int16_t* buffer, uint32_t byteCount);

// A control call: code, input record, output record (their sizes follow from the code). Returns a kernel
// status (0 success, 0xC... failure).
typedef int32_t (*LowerControlRoutine)(void* handle, uint32_t code, void* input, void* output);

struct LowerDriverInterface {
    void* unused0;                     // offset 0 on the card driver: not used
    LowerBlockRoutine readBlock;       // fills the buffer with one block of receive samples
    LowerBlockRoutine writeBlock;      // takes one block of transmit samples
    LowerControlRoutine control;       // every control code except those below
    LowerControlRoutine secondControl; // codes 22-27, 30, 32 and 33
    void* unused20[5];                 // offsets 20-39: not used
    void* handle;                      // first argument of every call
};

// Control codes the data pump sends to the sample-stream driver.
enum LowerControlCode : uint32_t {
    LOWER_CODE_LOOP_CLOSE = 1,     // hook relay: close the loop (off hook); blocks keep flowing
    LOWER_CODE_LOOP_OPEN = 2,      // hook relay: open the loop (on hook); blocks keep flowing
    LOWER_CODE_FORMAT = 4,         // {u16 rate, u16 block length}: from the next block on
    LOWER_CODE_OPTION8 = 8,        // 2-bit option (speaker)
    LOWER_CODE_PHASE2 = 10,        // phase-2 parameter words; a word holding 1 comes back
    LOWER_CODE_RX_GAIN = 11,       // 2-byte value
    LOWER_CODE_QUERY12 = 12,       // a half-word comes back
    LOWER_CODE_MODE13 = 13,        // 32-bit value
    LOWER_CODE_CODEC_WRITE = 16,   // {selector, value}
    LOWER_CODE_CODEC_READ = 17,    // {selector, 0}: the value comes back in the second word
    LOWER_CODE_HOST_CONTROL = 18,  // 0 or 2
    LOWER_CODE_CALLER_ID = 19,     // 0 or 1
    LOWER_CODE_DEVICE_RECORD = 20, // the 536-byte LowerDeviceRecord, filled by the driver
    LOWER_CODE_CODEC_REINIT = 21,  // re-initialise the codec
    LOWER_CODE_GAIN30 = 30,        // {selector, value, level}
    LOWER_CODE_HOST_ACTIVE = 32,   // 32-bit 0
    LOWER_CODE_HOST_IDLE = 33,     // no arguments
};

// Input records of the control codes.
struct LowerFormat {         // code 4
    uint16_t rate;           // samples per second
    uint16_t blockLength;    // samples per block
};
struct LowerCodecAccess {    // codes 16 and 17
    uint32_t selector;       // 0x1000000 or 0x2000000 OR a codec register address
    uint32_t value;          // value written (16), value read back (17)
};
struct LowerGain30 {         // code 30
    uint32_t selector;
    uint32_t value;
    uint32_t level;
};

// The record the sample-stream driver fills on code 20 (536 bytes, an exact image).
struct LowerDeviceRecord {
    // The stream's latency for the echo cancellers: buffer depths in blocks and an extra sample count.
    uint16_t rxDepthBlocks;
    uint16_t txDepthBlocks;
    uint32_t extraSamples;
    uint32_t codecAddressA[64];  // codec register addresses, first table
    uint32_t codecAddressB[64];  // second table
    uint32_t codecMode;          // 4 selects live codec access
    uint32_t optionWords[2];     // further option words read by the V.34 pump
    uint32_t watchdogEnable;     // non-zero enables the codec watchdog
};
static_assert(sizeof(LowerDeviceRecord) == 536, "code-20 record is 536 bytes");

// Codec selectors of the healthy-codec check.
constexpr uint32_t LOWER_CODEC_BANK1 = 0x1000000;
constexpr uint32_t LOWER_CODEC_BANK2 = 0x2000000;
