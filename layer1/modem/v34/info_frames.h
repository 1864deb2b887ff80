// INFO frames of the V.34 phase-2 exchange: INFO0 (capabilities, from both sides), INFO1c (the caller's
// line-probing results) and INFO1a (the answerer's), as bit streams in the layout of bit_field.h.
//
// Every frame: 4 fill bits (1111), 8 sync bits (01110010 in line order), the information bits, 16 CRC bits,
// 4 fill bits. The CRC is the reflected CRC-16 (polynomial 0x8408, register preset to 0xFFFF) over the
// information bits in line order, sent uninverted with its bit 0 first; the same CRC over the information and
// CRC bits leaves 0. A received frame's body is what follows the sync: information bits, then the CRC.
#pragma once

#include <cstdint>

constexpr uint32_t kInfoFillAndSync = 0x4EF;  // 12 bits: 1111 then 01110010, first bit in bit 0
constexpr uint32_t kInfoHeadBits = 12;
constexpr uint32_t kInfoCrcBits = 16;
constexpr uint32_t kInfoFill = 0xF;
constexpr uint32_t kInfoTailBits = 4;

// Frame lengths in bits (whole frame) and body lengths (information bits + CRC) that the receiver accepts.
constexpr uint32_t kInfo0Bits = 49;
constexpr uint32_t kInfo1cBits = 109;
constexpr uint32_t kInfo1aBits = 70;
constexpr uint32_t kInfo0Body = 33;
constexpr uint32_t kInfo0PcmBody = 46;
constexpr uint32_t kInfo1aBody = 54;
constexpr uint32_t kInfo1cBody = 93;
constexpr uint32_t kInfoShortBody = 24;  // 8 information bits

// Words a frame needs: 32-bit words for the builders, 16-bit words for a received body.
constexpr int kInfoFrameWords32 = 4;
constexpr int kInfoBodyWords16 = 10;

// The nine capability bits of INFO0, in line order (line bits 12-20).
enum Info0Capability : int {
    kInfo0Cap2743 = 0,
    kInfo0Cap2800,
    kInfo0Cap3429,
    kInfo0Cap3000Low,
    kInfo0Cap3000High,
    kInfo0Cap3200Low,
    kInfo0Cap3200High,
    kInfo0Cap3429Allowed,
    kInfo0CapPowerReduction,
    kInfo0Capabilities
};

// INFO0 as sent by this modem or as received (16-bit words).
struct Info0Fields {
    uint16_t rawFirstWord;        // first 16 body bits of a received frame
    uint16_t support2400;         // always 1
    uint16_t capability[kInfo0Capabilities];
    uint16_t maxRateDifference;   // 3 bits: largest difference between the two directions' symbol rates
    uint16_t cme;
    uint16_t constellation1664;
    uint16_t clockSource;         // 2 bits, received V.34 frames only
    uint16_t acknowledge;         // the far end's INFO0 was received
    uint16_t pcmField4;           // received PCM-candidate frames: a 4-bit field,
    uint16_t pcmField5;           // a 5-bit field
    uint16_t pcmBit[3];           // and three single bits
    uint16_t pcmOption;
    uint16_t pcmAnswer;
    uint16_t pcmOffer;
};

constexpr int kSymbolRates = 6;  // 2400, 2743, 2800, 3000, 3200, 3429

// INFO1c: the caller's probing results, one entry per symbol rate.
struct Info1cRate {
    uint16_t highCarrier;   // use the high carrier at this rate
    uint16_t preEmphasis;   // 4 bits: pre-emphasis filter index
    uint16_t maxRate;       // 4 bits: projected maximum data-rate code
};
struct Info1cFields {
    uint16_t minPowerReduction;    // 3 bits
    uint16_t extraPowerReduction;  // 3 bits
    uint16_t mdLength;             // 7 bits, 35 ms units
    Info1cRate rate[kSymbolRates];
    uint16_t freqOffset;           // 10 bits
};

// INFO1a: the answerer's decisions for the caller's transmitter.
struct Info1aFields {
    uint16_t minPowerReduction;
    uint16_t extraPowerReduction;
    uint16_t mdLength;
    uint16_t highCarrier;       // the caller shall use the high carrier
    uint16_t preEmphasis;       // for the caller's transmitter
    uint16_t maxRate;           // data-rate code, caller to answerer
    uint16_t answererRateIndex; // symbol-rate index, answerer to caller
    uint16_t callerRateIndex;   // symbol-rate index, caller to answerer
    uint16_t freqOffset;
};

// The 7-bit code that marks INFO1a in PCM form and the symbol-rate index it carries.
constexpr uint32_t kInfo1aPcmCode = 78;
constexpr uint32_t kPcmRateIndex = 6;

// The frame CRC fed with the low `width` bits of value, least significant first.
uint16_t Crc16Bits(uint16_t crc, uint32_t value, uint32_t width);
// The frame CRC over `count` bits of a stream from `first`.
uint16_t StreamCrc(const uint32_t* words, uint32_t first, uint32_t count);

// Builders: write the whole frame from position 0 and return its length in bits.
uint32_t BuildInfo0(const Info0Fields& fields, uint32_t* words);
uint32_t BuildInfo1cFrame(const Info1cFields& fields, uint32_t* words);
// pcmForm: bits 12-33 carry the PCM code instead of the caller's settings (the caller-to-answerer index 6).
uint32_t BuildInfo1aFrame(const Info1aFields& fields, bool pcmForm, uint32_t* words);
uint32_t BuildInfo1Pcm(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t* words);

// Parsers of a received body (16-bit words as the receiver hands them over).
void ParseInfo0(const uint16_t* body, Info0Fields* fields);
void ParseInfo0Pcm(const uint16_t* body, Info0Fields* fields);
void ParseInfo1c(const uint16_t* body, Info1cFields* fields);
void ParseInfo1a(const uint16_t* body, Info1aFields* fields);
