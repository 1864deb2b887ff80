#include "layer1/modem/v34/info_frames.h"

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/fixed_point.h"

uint16_t Crc16Bits(uint16_t crc, uint32_t value, uint32_t width)
{
    for (uint32_t i = 0; i < width; ++i)
        crc = Crc16BitStep((value >> i) & 1u, crc);
    return crc;
}

uint16_t StreamCrc(const uint32_t* words, uint32_t first, uint32_t count)
{
    uint16_t crc = 0xFFFF;
    for (uint32_t i = 0; i < count; ++i)
        crc = Crc16BitStep(GetBits32(words, static_cast<int32_t>(first + i), 1), crc);
    return crc;
}

namespace {

// Closes a frame whose information bits end at `end`: the CRC over them, then the fill.
uint32_t FinishFrame(uint32_t* words, uint32_t end)
{
    const uint16_t crc = StreamCrc(words, kInfoHeadBits, end - kInfoHeadBits);
    uint32_t p = PutBits(words, end, kInfoCrcBits, crc);
    return PutBits(words, p, kInfoTailBits, kInfoFill);
}

uint16_t Field(const uint16_t* body, uint32_t position, uint32_t width)
{
    return static_cast<uint16_t>(GetBits16(body, static_cast<uint16_t>(position), width));
}

// Body bits 0-13 are the same in both INFO0 readings.
void ParseInfo0Common(const uint16_t* body, Info0Fields* f)
{
    f->rawFirstWord = body[0];
    f->support2400 = 1;
    for (int i = 0; i < kInfo0Capabilities; ++i)
        f->capability[i] = Field(body, static_cast<uint32_t>(i), 1);
    f->maxRateDifference = Field(body, 9, 3);
    f->cme = Field(body, 12, 1);
    f->constellation1664 = Field(body, 13, 1);
}

}  // namespace

uint32_t BuildInfo0(const Info0Fields& f, uint32_t* words)
{
    uint32_t p = PutBits(words, 0, kInfoHeadBits, kInfoFillAndSync);
    for (int i = 0; i < kInfo0Capabilities; ++i)
        p = PutBits(words, p, 1, f.capability[i]);
    p = PutBits(words, p, 3, f.maxRateDifference);
    p = PutBits(words, p, 1, f.cme);
    p = PutBits(words, p, 1, f.constellation1664);
    p = PutBits(words, p, 1, f.pcmOffer);
    p = PutBits(words, p, 1, f.pcmOption);
    p = PutBits(words, p, 1, f.acknowledge);
    return FinishFrame(words, p);
}

uint32_t BuildInfo1cFrame(const Info1cFields& f, uint32_t* words)
{
    uint32_t p = PutBits(words, 0, kInfoHeadBits, kInfoFillAndSync);
    p = PutBits(words, p, 3, f.minPowerReduction);
    p = PutBits(words, p, 3, f.extraPowerReduction);
    p = PutBits(words, p, 7, f.mdLength);
    for (const Info1cRate& r : f.rate) {
        p = PutBits(words, p, 1, r.highCarrier);
        p = PutBits(words, p, 4, r.preEmphasis);
        p = PutBits(words, p, 4, r.maxRate);
    }
    p = PutBits(words, p, 10, f.freqOffset);
    return FinishFrame(words, p);
}

uint32_t BuildInfo1aFrame(const Info1aFields& f, bool pcmForm, uint32_t* words)
{
    uint32_t p = PutBits(words, 0, kInfoHeadBits, kInfoFillAndSync);
    if (pcmForm) {
        p = PutBits(words, p, 13, 0);
        p = PutBits(words, p, 7, kInfo1aPcmCode);
        p = PutBits(words, p, 2, 0);
    } else {
        p = PutBits(words, p, 3, f.minPowerReduction);
        p = PutBits(words, p, 3, f.extraPowerReduction);
        p = PutBits(words, p, 7, f.mdLength);
        p = PutBits(words, p, 1, f.highCarrier);
        p = PutBits(words, p, 4, f.preEmphasis);
        p = PutBits(words, p, 4, f.maxRate);
    }
    p = PutBits(words, p, 3, f.answererRateIndex);
    p = PutBits(words, p, 3, pcmForm ? kPcmRateIndex : f.callerRateIndex);
    p = PutBits(words, p, 10, f.freqOffset);
    return FinishFrame(words, p);
}

uint32_t BuildInfo1Pcm(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t* words)
{
    uint32_t p = PutBits(words, 0, kInfoHeadBits, kInfoFillAndSync);
    p = PutBits(words, p, 6, 0);
    p = PutBits(words, p, 7, a);
    p = PutBits(words, p, 7, kInfo1aPcmCode);
    p = PutBits(words, p, 1, 0);
    p = PutBits(words, p, 1, b);
    p = PutBits(words, p, 3, c);
    p = PutBits(words, p, 3, kPcmRateIndex);
    p = PutBits(words, p, 10, d);
    return FinishFrame(words, p);
}

void ParseInfo0(const uint16_t* body, Info0Fields* f)
{
    ParseInfo0Common(body, f);
    f->clockSource = Field(body, 14, 2);
    f->acknowledge = Field(body, 16, 1);
}

void ParseInfo0Pcm(const uint16_t* body, Info0Fields* f)
{
    ParseInfo0Common(body, f);
    f->pcmOption = Field(body, 14, 1);
    f->pcmAnswer = Field(body, 15, 1);
    f->acknowledge = Field(body, 16, 1);
    f->pcmField4 = Field(body, 17, 4);
    f->pcmField5 = Field(body, 21, 5);
    for (uint32_t i = 0; i < 3; ++i)
        f->pcmBit[i] = Field(body, 26 + i, 1);
}

void ParseInfo1c(const uint16_t* body, Info1cFields* f)
{
    f->minPowerReduction = Field(body, 0, 3);
    f->extraPowerReduction = Field(body, 3, 3);
    f->mdLength = Field(body, 6, 7);
    for (uint32_t i = 0; i < kSymbolRates; ++i) {
        const uint32_t base = 13 + 9 * i;
        f->rate[i].highCarrier = Field(body, base, 1);
        f->rate[i].preEmphasis = Field(body, base + 1, 4);
        f->rate[i].maxRate = Field(body, base + 5, 4);
    }
    f->freqOffset = Field(body, 67, 10);
}

void ParseInfo1a(const uint16_t* body, Info1aFields* f)
{
    f->minPowerReduction = Field(body, 0, 3);
    f->extraPowerReduction = Field(body, 3, 3);
    f->mdLength = Field(body, 6, 7);
    f->highCarrier = Field(body, 13, 1);
    f->preEmphasis = Field(body, 14, 4);
    f->maxRate = Field(body, 18, 4);
    f->answererRateIndex = Field(body, 22, 3);
    f->callerRateIndex = Field(body, 25, 3);
    f->freqOffset = Field(body, 28, 10);
}
