// MP frames: the packed fields for the CRC and the line layout.
#include "layer1/modem/v34/mp_frame.h"

#include <cstring>

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/v34_framing.h"

namespace {

struct Field {
    uint32_t value;
    uint32_t width;
};

// The fields before the data-rate mask (16 bits) and the mask with the asymmetric bit (16 bits).
void FirstHalves(const MpFrame* f, Field head[8], Field mask[2])
{
    head[0] = {f->type & 1u, 1};
    head[1] = {0, 1};
    head[2] = {f->maxCallToAnswer & 15u, 4};
    head[3] = {f->maxAnswerToCall & 15u, 4};
    head[4] = {f->auxiliary & 1u, 1};
    head[5] = {f->trellis & 3u, 2};
    head[6] = {f->nonlinear & 1u, 1};
    head[7] = {static_cast<uint32_t>(f->shaping & 1u) | static_cast<uint32_t>(f->acknowledge & 1u) << 1, 2};
    mask[0] = {f->rateMask & 0x7FFFu, 15};
    mask[1] = {f->asymmetric & 1u, 1};
}

}  // namespace

void BuildMpFrame(const MpFrame* f, MpPacked* packed)
{
    uint32_t words[5] = {};
    Field head[8];
    Field mask[2];
    FirstHalves(f, head, mask);
    uint32_t pos = 0;
    for (const Field& field : head)
        pos = PutBits(words, pos, field.width, field.value);
    for (const Field& field : mask)
        pos = PutBits(words, pos, field.width, field.value);
    if ((f->type & 1u) != 0) {
        for (int16_t c : f->coefficients)
            pos = PutBits(words, pos, 16, static_cast<uint16_t>(c));
    }
    pos += 16;  // the zero bits after the last field
    packed->length = static_cast<int32_t>(pos / 8);
    std::memcpy(packed->bytes, words, sizeof packed->bytes);
    uint16_t crc = 0xFFFF;
    for (int32_t i = 0; i < packed->length; ++i)
        Crc16Bits(&crc, packed->bytes[i], 8);
    packed->crc = crc;
}

int32_t WriteMpFrame(const MpFrame* f, const MpPacked* packed, uint32_t words[kMpMaxWords])
{
    std::memset(words, 0, kMpMaxWords * sizeof(uint32_t));
    Field head[8];
    Field mask[2];
    FirstHalves(f, head, mask);
    uint32_t pos = PutBits(words, 0, 18, 0x1FFFF);  // 17 ones and a 0
    for (const Field& field : head)
        pos = PutBits(words, pos, field.width, field.value);
    pos = PutBits(words, pos, 1, 0);
    for (const Field& field : mask)
        pos = PutBits(words, pos, field.width, field.value);
    pos = PutBits(words, pos, 1, 0);
    const bool type1 = (f->type & 1u) != 0;
    if (type1) {
        for (int16_t c : f->coefficients) {
            pos = PutBits(words, pos, 16, static_cast<uint16_t>(c));
            pos = PutBits(words, pos, 1, 0);
        }
    }
    pos = PutBits(words, pos, 17, 0);
    pos = PutBits(words, pos, 16, packed->crc);
    pos = PutBits(words, pos, 1, 0);
    if (!type1)
        pos = PutBits(words, pos, 2, 0);
    return static_cast<int32_t>(pos);
}
