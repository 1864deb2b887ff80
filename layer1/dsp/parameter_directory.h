// Parameter directories: the controller reads and writes the data pump's parameters by DSP address. Two
// arrays of ParameterEntry in the interface block map addresses onto storage inside the DspContext: the
// memory directory (17-bit data addresses, bit 16 the bank) and the table directory (16-bit ids).
#pragma once

#include <cstdint>

#include "window/dsp_interface_block.h"

struct DspContext;

// Detector coefficient set (memory parameters A, A+7, A+14): two blocks of seven words and a trigger word
// whose write marks the set for reloading.
struct DetectorCoefficientSet {
    uint16_t first[7];
    uint16_t second[7];
    uint16_t trigger;
};

constexpr int kDetectorCoefficientSets = 3;
constexpr uint32_t kDetectorSetBase[kDetectorCoefficientSets] = {66008, 66023, 66038};

constexpr uint32_t kDownloadTableId = 33840;
constexpr uint32_t kDownloadTableBytes = 3616;
constexpr uint32_t kDownloadTableLastId = 35648;  // writes above it have no entry
constexpr uint32_t kDownloadRangeLastId = 37456;  // the range whose size comes from the command length

// Storage behind the directory entries that no other record of the DspContext owns.
struct ParameterArea {
    // table directory
    uint16_t dspParam[2];              // 256, 257
    uint32_t pcmParam32;               // 6158
    uint16_t pcmParam16;               // 6159
    uint16_t detectorBlock[4];         // 5907
    uint16_t modeWord;                 // 5727
    uint16_t codecImage[9];            // 6176: eight words; 6184: the word that follows
    uint16_t v34Block[12][8];          // 0x8000-0x8058
    uint16_t pcmBlock[96][8];          // 0x8100-0x83F8
    uint16_t downloadTable[kDownloadTableBytes / 2];  // 33840
    uint16_t downloadCounter;          // 16-bit download word counter (cleared by 0xA3 0)
    // memory directory
    uint16_t word32;
    uint16_t word51;
    uint16_t block258[6];              // 258 and 288
    uint16_t word65574;
    uint16_t word228;
    uint16_t rateRecord[6];            // 192 reads these six fields packed
    uint16_t option[3];                // 194-196
    uint16_t word204[3];               // 204-206
    uint32_t word143;
    uint32_t callProgressLevel[5];     // 146, 148, 150, 152, 154
    uint16_t voiceGains;               // 66100
    DetectorCoefficientSet detectorSet[kDetectorCoefficientSets];
    uint32_t reloadRequests;           // bit n: detector set n marked for reloading
    uint32_t pcm67584;
    uint32_t pcm67586;
    uint16_t pcm67588;
    uint8_t liveDummy[16];             // live ids that need no storage
    uint32_t parameterChanged;         // the parameter-changed flag word
};

// Directory operations. The first registration of an id wins; lookups search from the first entry.
void RegisterMemoryParam(DspInterfaceBlock* block, uint32_t id, void* pointer, uint32_t size);
void RegisterTableParam(DspInterfaceBlock* block, uint32_t id, void* pointer, uint32_t size);
const ParameterEntry* FindMemoryParam(const DspInterfaceBlock* block, uint32_t id);
const ParameterEntry* FindTableParam(const DspInterfaceBlock* block, uint32_t id);
uint32_t MemoryParamSize(const DspInterfaceBlock* block, uint32_t id);
uint32_t TableParamSize(const DspInterfaceBlock* block, uint32_t id);
// Copy min(entry size, bytes) between the entry's storage and the buffer; nothing when absent. Return the
// bytes copied.
uint32_t ReadMemoryValue(const DspInterfaceBlock* block, uint32_t id, void* out, uint32_t bytes);
uint32_t WriteMemoryValue(DspInterfaceBlock* block, uint32_t id, const void* in, uint32_t bytes);
uint32_t ReadTableValue(const DspInterfaceBlock* block, uint32_t id, void* out, uint32_t bytes);
uint32_t WriteTableValue(DspInterfaceBlock* block, uint32_t id, const void* in, uint32_t bytes);
// Copies up to 12 bytes (no more than given) into an entry at a 16-bit word offset, never past its end.
uint32_t WriteTableWords(DspInterfaceBlock* block, uint32_t id, uint32_t wordOffset, const void* in, uint32_t bytes);

void BuildParameterDirectory(DspContext* context);

// Command handlers 0x09-0x0E.
void ReadTableParam(DspContext* context);
void ReadMemoryParam(DspContext* context, uint32_t bank);
void WriteTableParam(DspContext* context);
void WriteMemoryParam(DspContext* context, uint32_t bank);
