// The self-synchronising scrambler with generator 1 + x^-18 + x^-23 (V.17, V.29, and the V.32bis caller),
// several bits at a time. The register holds the last 23 line bits, the newest in bit 22 and the oldest in
// bit 0, so its bit k is the bit sent 23 - k bit times ago; bits of a symbol go first-in-time in bit 0.
#pragma once

#include <cstdint>

// Scrambles n (1-18) bits: each line bit is the data bit XOR the line bits 18 and 23 bit times before it.
inline uint32_t Scramble23(uint32_t* reg, uint32_t bits, int32_t n)
{
    const uint32_t mask = (1u << n) - 1u;
    const uint32_t out = (bits ^ *reg ^ (*reg >> 5)) & mask;
    *reg = ((*reg | (out << 23)) >> n) & 0x7FFFFFu;
    return out;
}

// The inverse: n (1-18) received line bits back to data bits.
inline uint32_t Descramble23(uint32_t* reg, uint32_t line, int32_t n)
{
    const uint32_t mask = (1u << n) - 1u;
    line &= mask;
    const uint32_t out = (line ^ *reg ^ (*reg >> 5)) & mask;
    *reg = ((*reg | (line << 23)) >> n) & 0x7FFFFFu;
    return out;
}

// One bit at a time, for either generator of the pair 1 + x^-near + x^-23 (near 18 or 5): a group may be longer
// than the nearer tap. The register holds the last 23 line bits, the newest in bit 0.
inline uint32_t ScrambleSerial23(uint32_t* reg, uint32_t bits, int32_t n, int32_t nearTap)
{
    uint32_t out = 0;
    for (int32_t k = 0; k < n; ++k) {
        const uint32_t b = ((bits >> k) ^ (*reg >> (nearTap - 1)) ^ (*reg >> 22)) & 1u;
        *reg = ((*reg << 1) | b) & 0x7FFFFFu;
        out |= b << k;
    }
    return out;
}

inline uint32_t DescrambleSerial23(uint32_t* reg, uint32_t line, int32_t n, int32_t nearTap)
{
    uint32_t out = 0;
    for (int32_t k = 0; k < n; ++k) {
        const uint32_t in = (line >> k) & 1u;
        out |= ((in ^ (*reg >> (nearTap - 1)) ^ (*reg >> 22)) & 1u) << k;
        *reg = ((*reg << 1) | in) & 0x7FFFFFu;
    }
    return out;
}
