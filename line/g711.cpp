#include "line/g711.h"

namespace {

// Segment end points of the 13-bit (A-law) and 14-bit (mu-law) magnitudes.
constexpr int16_t kAlawSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
constexpr int16_t kUlawSegmentEnd[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
constexpr int kUlawBias = 0x21;    // 0x84 >> 2
constexpr int kUlawClip = 8159;

int Segment(int value, const int16_t* ends)
{
    for (int s = 0; s < 8; ++s)
        if (value <= ends[s])
            return s;
    return 8;
}

}  // namespace

uint8_t LinearToAlaw(int16_t pcm)
{
    int value = pcm >> 3;  // 13-bit
    int mask;
    if (value >= 0) {
        mask = 0xD5;  // sign bit set, even bits inverted
    } else {
        mask = 0x55;
        value = -value - 1;
    }
    const int seg = Segment(value, kAlawSegmentEnd);
    if (seg >= 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    int code = seg << 4;
    code |= (seg < 2) ? (value >> 1) & 0x0F : (value >> seg) & 0x0F;
    return static_cast<uint8_t>(code ^ mask);
}

int16_t AlawToLinear(uint8_t code)
{
    const int a = code ^ 0x55;
    int t = (a & 0x0F) << 4;
    const int seg = (a & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else if (seg == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (seg - 1);
    return static_cast<int16_t>((a & 0x80) ? t : -t);
}

uint8_t LinearToUlaw(int16_t pcm)
{
    int value;
    int mask;
    if (pcm < 0) {
        value = (-static_cast<int>(pcm)) >> 2;  // 14-bit magnitude of a negative sample
        mask = 0x7F;
    } else {
        value = pcm >> 2;
        mask = 0xFF;
    }
    if (value > kUlawClip)
        value = kUlawClip;
    value += kUlawBias;
    const int seg = Segment(value, kUlawSegmentEnd);
    if (seg >= 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    const int code = (seg << 4) | ((value >> (seg + 1)) & 0x0F);
    return static_cast<uint8_t>(code ^ mask);
}

int16_t UlawToLinear(uint8_t code)
{
    const int u = ~code & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return static_cast<int16_t>((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

int16_t Compand(int32_t law, int16_t pcm)
{
    switch (law) {
    case LINE_COMPANDING_ALAW:
        return AlawToLinear(LinearToAlaw(pcm));
    case LINE_COMPANDING_ULAW:
        return UlawToLinear(LinearToUlaw(pcm));
    default:
        return pcm;
    }
}
