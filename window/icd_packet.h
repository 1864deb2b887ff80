// Typed encode and decode of the ICD packets whose payload both drivers read or write. Payload layouts are
// little-endian byte images; each encoder returns the payload length it wrote.
#pragma once

#include <cstdint>

#include "window/icd_codes.h"

// Parameter access by DSP address (codes 9-14). A memory address of 0x10000 or above goes to the high bank
// (0x0B, 0x0E) with its low 16 bits in the packet. A table address carries the id's low byte, its high byte
// with 0x80 added when any of address bits 15-17 is set, the bank bits ((address >> 10) & 0xE0) and 0.
constexpr uint32_t kIcdHighBank = 0x10000;
constexpr int kIcdMemoryHeader = 2;   // bytes before a memory write's words
constexpr int kIcdTableHeader = 4;    // bytes before a table write's words
constexpr int kIcdMemoryWriteWords = 7;
constexpr int kIcdTableWriteWords = 6;

uint8_t IcdMemoryReadCode(uint32_t address);
uint8_t IcdMemoryWriteCode(uint32_t address);
int IcdEncodeMemoryAddress(uint32_t address, uint8_t* payload);
int IcdEncodeTableAddress(uint32_t address, uint8_t* payload);
// The 16-bit parameter id of a parameter command (bytes 0-1).
uint32_t IcdDecodeParamId(const uint8_t* payload);
// Appends words (low byte first) at payload[at]; returns the new length.
int IcdEncodeWords(uint8_t* payload, int at, const uint16_t* words, int count);

// 0x68 and 0x6E: the four option bytes of a connection or data-pump start.
struct IcdConnectionPayload {
    uint8_t rateCode;       // byte 0 bits 0-5
    uint8_t rateOption;     // byte 0 bits 6-7
    uint8_t mode;           // byte 1 bits 0-4: the modulation number
    uint8_t modeOption;     // byte 1 bits 6-7
    uint8_t lineOption;     // byte 2 bits 0-1
    uint8_t originate;      // byte 2 bit 2
    uint8_t procedureKind;  // byte 2 bits 3-4
    uint8_t singleTone;     // byte 2 bit 5
    uint8_t flag6;          // byte 2 bit 6
    uint8_t phase2Kind;     // byte 3 bits 0-1
    uint8_t phase2Flags[2]; // byte 3 bits 2 and 3
};
constexpr int kIcdConnectionLength = 4;
int IcdEncode(const IcdConnectionPayload& p, uint8_t* payload);
IcdConnectionPayload IcdDecodeConnection(const uint8_t* payload);

// 0x7C: two phase-step words and a control byte (0 stops the pair; bit 2 keeps the words' order).
struct IcdTonePairPayload {
    uint16_t step1;
    uint16_t step2;
    uint8_t control;
};
constexpr int kIcdTonePairLength = 6;
int IcdEncode(const IcdTonePairPayload& p, uint8_t* payload);
IcdTonePairPayload IcdDecodeTonePair(const uint8_t* payload);

// 0xCB: four 16-bit version words.
struct IcdVersionPayload {
    uint16_t part[4];
};
constexpr int kIcdVersionLength = 8;
int IcdEncode(const IcdVersionPayload& p, uint8_t* payload);
IcdVersionPayload IcdDecodeVersion(const uint8_t* payload);

// 0xD1: a detector report, {kind, time stamp, value} in 16 bits each.
struct IcdDetectorReportPayload {
    uint16_t kind;
    uint16_t timeStamp;
    uint16_t value;
};
constexpr int kIcdDetectorReportLength = 6;
int IcdEncode(const IcdDetectorReportPayload& p, uint8_t* payload);
IcdDetectorReportPayload IcdDecodeDetectorReport(const uint8_t* payload);

// 0xD4: an event, {value, kind}.
struct IcdEventPayload {
    uint8_t value;
    uint8_t kind;
};
constexpr int kIcdEventLength = 2;
int IcdEncode(const IcdEventPayload& p, uint8_t* payload);
IcdEventPayload IcdDecodeEvent(const uint8_t* payload);

// 0x7B: the transmit-level gain words and the levels (dB) they set; any other word sets -9 dB.
struct IcdTxLevelWord {
    uint16_t word;
    int16_t dB;
};
// clang-format off
constexpr IcdTxLevelWord kIcdTxLevelWords[] = {
    {25399, 0},   {22637, -1},  {20175, -2},  {17981, -3},  {16026, -4},  {14283, -5},
    {12730, -6},  {11346, -7},  {10112, -8},  {8032, -10},  {7158, -11},  {6380, -12},
    {5686, -13},  {5067, -14},  {4516, -15},  {4027, -16},
};
// clang-format on
constexpr int16_t kIcdTxLevelOther = -9;
int16_t IcdTxLevelOfWord(uint16_t word);
// The listed word whose level lies nearest dB (the lower level on a tie).
uint16_t IcdTxLevelWordOf(int dB);
