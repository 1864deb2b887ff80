// The phase step rule of the oscillator (the table and the oscillator itself are inline in the header).
#include "layer1/dsp/nco.h"

uint32_t NcoPhaseStep(int32_t hz)
{
    return static_cast<uint32_t>((static_cast<int64_t>(hz) * 223696) / 32768) & 0xFFFFu;
}
