#include "layer1/modem/v34/fixed_point.h"
#include "platform/saturate.h"

int16_t AgcSample(int16_t sample, int16_t* gain, int16_t rate, int16_t target)
{
    const int32_t y = (static_cast<int32_t>(sample) * *gain) >> 15;
    const int32_t magnitude = y < 0 ? -y : y;
    // ((target - |y|) * rate + gain * 32768) << 1, kept to 32 bits; a negative result becomes 0x7FFFFFFF.
    const int64_t inner = static_cast<int64_t>(target - magnitude) * rate + static_cast<int64_t>(*gain) * 32768;
    const int32_t g = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(inner) << 1));
    const int32_t kept = g < 0 ? INT32_MAX : g;
    *gain = static_cast<int16_t>(kept >> 16);
    return static_cast<int16_t>(static_cast<uint32_t>(y) & 0xFFFFu);
}
