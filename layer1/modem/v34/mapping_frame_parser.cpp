// Distribution of the scrambled data bits into mapping frames. One distribution for every b: a frame whose
// switching-pattern bit is 1 carries b bits, otherwise b - 1; the bit that varies is the last shell-index bit
// (b >= 13), bit 2 of the fourth I field (b = 12) or bit 2 of the first (b = 9). No auxiliary channel.
#include "layer1/modem/v34/v34_encoder.h"

#include <cstring>

namespace {

constexpr uint32_t kReservoirBits = 128;

uint32_t Take(V34BitReservoir* r, int32_t n)
{
    if (n >= 0 && n <= 32) {
        // The word the field starts in and the next one (the reservoir wraps) hold it whole.
        const uint32_t word = (r->readPosition / 32u) & 3u;
        const uint32_t shift = r->readPosition % 32u;
        const uint64_t pair = r->words[word] | (static_cast<uint64_t>(r->words[(word + 1u) & 3u]) << 32);
        const uint64_t mask = (uint64_t{1} << n) - 1u;
        r->readPosition = (r->readPosition + static_cast<uint32_t>(n)) % kReservoirBits;
        r->count -= n;
        return static_cast<uint32_t>((pair >> shift) & mask);
    }
    uint32_t v = 0;
    for (int32_t got = 0; got < n;) {
        const uint32_t word = (r->readPosition / 32u) & 3u;
        const uint32_t shift = r->readPosition % 32u;
        const int32_t here = 32 - static_cast<int32_t>(shift) < n - got ? 32 - static_cast<int32_t>(shift) : n - got;
        const uint32_t mask = here == 32 ? 0xFFFFFFFFu : (1u << here) - 1u;
        v |= ((r->words[word] >> shift) & mask) << got;
        got += here;
        r->readPosition = (r->readPosition + static_cast<uint32_t>(here)) % kReservoirBits;
    }
    r->count -= n;
    return v;
}

bool LongFrame(const V34EncoderState* s)
{
    return ((s->frame.switchingPattern >> (s->frame.P - 1 - s->frameIndex)) & 1u) != 0;
}

bool Distributable(int32_t b) { return b == 8 || b == 9 || b == 12 || b >= 13; }

}  // namespace

int32_t ReservoirPut(V34BitReservoir* r, uint32_t bits)
{
    if (r->count + 32 > static_cast<int32_t>(kReservoirBits))
        return 1;
    const uint32_t write = (r->readPosition + static_cast<uint32_t>(r->count)) % kReservoirBits;
    const uint32_t word = write / 32u;
    const uint32_t shift = write % 32u;
    if (shift == 0) {
        r->words[word] = bits;
    } else {
        r->words[word] = (r->words[word] & ((1u << shift) - 1u)) | (bits << shift);
        r->words[(word + 1u) & 3u] = bits >> (32u - shift);
    }
    r->count += 32;
    return 0;
}

int32_t MappingFrameBits(const V34EncoderState* s)
{
    return LongFrame(s) ? s->frame.b : s->frame.b - 1;
}

int32_t ParseMappingFrame(V34EncoderState* s, MappingFrame* f)
{
    const int32_t b = s->frame.b;
    if (!Distributable(b)) {
        s->status = 2;
        return 2;
    }
    const bool longFrame = LongFrame(s);
    if (s->reservoir.count < MappingFrameBits(s)) {
        s->status = 1;
        return 1;
    }
    std::memset(f, 0, sizeof *f);
    V34BitReservoir* r = &s->reservoir;
    if (b >= 13) {
        const int32_t k = s->frame.K;
        f->shellIndex = Take(r, k - 1);
        if (longFrame)
            f->shellIndex |= Take(r, 1) << (k - 1);
        for (int32_t j = 0; j < 4; ++j) {
            f->i[j] = static_cast<uint8_t>(Take(r, 3));
            const uint32_t low = Take(r, s->frame.q);
            const uint32_t high = Take(r, s->frame.q);
            f->q[j] = static_cast<uint16_t>(low | (high << 8));
        }
    } else if (b == 12) {
        f->i[0] = static_cast<uint8_t>(Take(r, 3));
        f->i[1] = static_cast<uint8_t>(Take(r, 3));
        f->i[2] = static_cast<uint8_t>(Take(r, 3));
        f->i[3] = static_cast<uint8_t>(Take(r, 2) | (longFrame ? Take(r, 1) << 2 : 0u));
    } else if (b == 9) {
        f->i[0] = static_cast<uint8_t>(Take(r, 2) | (longFrame ? Take(r, 1) << 2 : 0u));
        for (int32_t j = 1; j < 4; ++j)
            f->i[j] = static_cast<uint8_t>(Take(r, 2));
    } else {
        for (int32_t j = 0; j < 4; ++j)
            f->i[j] = static_cast<uint8_t>(Take(r, 2));
    }
    s->status = 0;
    if (++s->frameIndex >= s->frame.P) {
        s->frameIndex = 0;
        if (++s->dataFrameIndex >= s->frame.J) {
            s->dataFrameIndex = 0;
            s->superframeCount += 1;
        }
    }
    return 0;
}
