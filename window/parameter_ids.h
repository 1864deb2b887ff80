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
// Beside them for V.34 and PCM connections (live; 0 where the running pump keeps no such value): the receive
// level in dB below 1 mW plus 5 (16 bits); the receiver's signal (constellation) power and error power (32
// bits each, the SNR's two terms); the transmit and receive option words (16 bits: trellis code in bits
// 10-11, 0/1/2 for 16/32/64 states; nonlinear coding bit 13; expanded constellation bit 14); the frequency
// offset phase 2 measured (32 bits, 223418 per Hz); the receiver's timing-offset reading (16 bits); the
// transmit side's SNR reading (16 bits); the receiver's frequency offset (16 bits, 1/360 of a symbol per
// symbol) and timing reading (16 bits); the symbol-rate indexes (16 bits: bits 0-2 transmit, bit 3 its high
// carrier, bits 4-6 receive, bit 7 its high carrier).
constexpr uint32_t kMemStatRxLevelDb = 172;
constexpr uint32_t kMemStatSignalPower = 173;
constexpr uint32_t kMemStatErrorPower = 174;
constexpr uint32_t kMemStatTxOptions = 175;
constexpr uint32_t kMemStatRxOptions = 176;
constexpr uint32_t kMemStatFarOffset = 177;
constexpr uint32_t kMemStatTimingOffset = 178;
constexpr uint32_t kMemStatTxSnr = 179;
constexpr uint32_t kMemStatFrequency = 180;
constexpr uint32_t kMemStatTiming = 181;
constexpr uint32_t kMemStatRateIndexes = 182;
constexpr uint32_t kDiagOptionTrellisShift = 10;
constexpr uint16_t kDiagOptionNonlinear = 0x2000;
constexpr uint16_t kDiagOptionExpanded = 0x4000;
constexpr int32_t kDiagOffsetPerHz = 223418;
