// Table parameter ids of the data pump that the controller reads and writes by number (commands 0x09 and
// 0x0C), named once for both drivers.
#pragma once

#include <cstdint>

// The two option words that survive a phase-2 reset: ids 0x1600-0x1603 are the low and high halves of the
// first, then of the second.
constexpr uint32_t kParamKeptWords = 0x1600;
constexpr int kParamKeptWordHalves = 4;
// The phase-2 results: word n of the record at id kParamPhase2Result + n, read 8 words at a time from the
// ids 0x1663, 0x166B, 0x1673, 0x167B, 0x1683 and 0x168B; the received INFO0 and capability words (7 words at
// 0x1678); the measured frequency offset (4 bytes at 0x1685, word 36); the 256-byte spectrum in 16 entries
// of 16 bytes from 0x1693, one every 8 ids.
constexpr uint32_t kParamPhase2Result = 0x1663;
constexpr int kParamPhase2ResultGroups = 6;
constexpr uint32_t kParamPhase2Info0 = 0x1678;
constexpr uint32_t kParamPhase2FreqOffset = 0x1685;
constexpr uint32_t kParamPhase2Spectrum = 0x1693;
constexpr int kParamPhase2SpectrumEntries = 16;

// Line statistics the controller's diagnostic record reads while a connection is up (memory directory, live
// values): the transmit and receive level readings (32 bits each), the echo reference (32 bits), the near
// and far echo powers the echo canceller models (32 bits each) and the line's round trip in samples at 9600
// Hz (16 bits). The data pump states their units in layer1/dsp/line_statistics.h.
constexpr uint32_t kMemStatTxLevel = 160;
constexpr uint32_t kMemStatRxLevel = 162;
constexpr uint32_t kMemStatEchoReference = 164;
constexpr uint32_t kMemStatNearEcho = 166;
constexpr uint32_t kMemStatFarEcho = 168;
constexpr uint32_t kMemStatRoundTrip = 170;
