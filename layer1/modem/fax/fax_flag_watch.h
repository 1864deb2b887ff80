// The fax receiver's watch for control-frame flags: while a page receiver (V.27ter, V.29, V.17) waits for its
// carrier, a V.21 channel 2 demodulator listens to the same samples and hunts its decided bits for HDLC flags
// (0x7E). A run of flags back to back means the far end is sending control frames, not page data: the fax
// engine then tells the application that the carrier is of the other kind, so it can listen for frames
// instead while their preamble lasts.
//
// The watch never touches the status register or the framer itself: it only takes the bits. A run must be
// long enough that the last flags of a frame the far end has just finished (heard when a page receiver starts
// right after a frame) do not count, and the pattern is specific enough that noise and the page modulations'
// training and data, seen through the V.21 demodulator, never repeat it.
#pragma once

#include <cstdint>

#include "layer1/modem/fsk/fsk_state.h"

constexpr int32_t kFaxFlagRun = 8;  // flags in a row (about 213 ms at 300 bit/s)

struct FaxFlagWatch {
    FskState fsk;        // V.21 channel 2 receiver whose decided bits the watch takes
    uint32_t recent;     // the last eight bits, newest in bit 0
    int32_t sinceFlag;   // bits since the last flag ended (large: none yet)
    int32_t run;         // flags in a row
    int32_t heard;       // 1 once a run of kFaxFlagRun flags was heard
};

void FaxFlagWatchInit(FaxFlagWatch* w);
// Demodulates n samples at 9600 per second; returns 1 once the flags were heard (and from then on).
int32_t FaxFlagWatchBlock(FaxFlagWatch* w, const int16_t* in, int32_t n);
// One decided bit (the demodulator's bit taker; exposed for tests).
void FaxFlagWatchBit(FaxFlagWatch* w, int32_t bit);
