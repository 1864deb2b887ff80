// Ordered access to the register window, the one way both drivers touch it.
//
// One writer per mailbox, publication in order: the payload is written first (relaxed stores), then the code
// or count with release ordering; the reader loads the code or count with acquire ordering, then the payload.
// The receive count and flags (52/53) and the transmit count and flags (116/117) are published and consumed
// as one 16-bit store and one 16-bit load, so a reader never sees flags without their bytes or the reverse.
#pragma once

#include <bit>
#include <cstdint>

#include "window/dsp_interface_block.h"

static_assert(std::endian::native == std::endian::little, "register pairs are read as little-endian words");

namespace window_detail {

inline uint8_t* RegisterAddress(DspInterfaceBlock* block, int reg)
{
    return &block->window.reg[static_cast<unsigned>(reg) & 0xFFu];
}

inline const uint8_t* RegisterAddress(const DspInterfaceBlock* block, int reg)
{
    return &block->window.reg[static_cast<unsigned>(reg) & 0xFFu];
}

// A pair is two adjacent registers starting at an even number (the window is 8-byte aligned).
inline uint16_t* PairAddress(DspInterfaceBlock* block, int reg)
{
    return reinterpret_cast<uint16_t*>(&block->window.reg[static_cast<unsigned>(reg) & 0xFEu]);
}

inline const uint16_t* PairAddress(const DspInterfaceBlock* block, int reg)
{
    return reinterpret_cast<const uint16_t*>(&block->window.reg[static_cast<unsigned>(reg) & 0xFEu]);
}

}  // namespace window_detail

// A code, count or flag register: acquire load, release store.
inline uint8_t WindowLoad(const DspInterfaceBlock* block, int reg)
{
    return __atomic_load_n(window_detail::RegisterAddress(block, reg), __ATOMIC_ACQUIRE);
}

inline void WindowStore(DspInterfaceBlock* block, int reg, uint8_t value)
{
    __atomic_store_n(window_detail::RegisterAddress(block, reg), value, __ATOMIC_RELEASE);
}

// A register pair (count and flags): the low register in the low byte.
inline uint16_t WindowLoadPair(const DspInterfaceBlock* block, int reg)
{
    return __atomic_load_n(window_detail::PairAddress(block, reg), __ATOMIC_ACQUIRE);
}

inline void WindowStorePair(DspInterfaceBlock* block, int reg, uint16_t value)
{
    __atomic_store_n(window_detail::PairAddress(block, reg), value, __ATOMIC_RELEASE);
}

// Payload bytes: relaxed, ordered by the code or count stored after them (or loaded before them).
inline uint8_t WindowLoadRelaxed(const DspInterfaceBlock* block, int reg)
{
    return __atomic_load_n(window_detail::RegisterAddress(block, reg), __ATOMIC_RELAXED);
}

inline void WindowStoreRelaxed(DspInterfaceBlock* block, int reg, uint8_t value)
{
    __atomic_store_n(window_detail::RegisterAddress(block, reg), value, __ATOMIC_RELAXED);
}

inline void WindowLoadBytes(const DspInterfaceBlock* block, int reg, uint8_t* bytes, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[i] = WindowLoadRelaxed(block, reg + i);
}

inline void WindowStoreBytes(DspInterfaceBlock* block, int reg, const uint8_t* bytes, int count)
{
    for (int i = 0; i < count; ++i)
        WindowStoreRelaxed(block, reg + i, bytes[i]);
}
