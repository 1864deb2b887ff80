// x87 control word access.
#include "layer1/vek/core/vek_fpu.h"

std::uint16_t vek_fpu_set_control(std::uint16_t value, std::uint16_t mask)
{
    std::uint16_t old = 0;
    asm volatile("fnstcw %0" : "=m"(old));
    const std::uint16_t wanted = static_cast<std::uint16_t>((old & ~mask) | (value & mask));
    if (wanted != old) {
        asm volatile("fldcw %0" : : "m"(wanted));
    }
    return old;
}

void vek_fpu_load_control(std::uint16_t controlWord)
{
    asm volatile("fldcw %0" : : "m"(controlWord));
}
