// A ring of bytes with its storage inside: the queues of voice mode between the voice steps and the data
// mailboxes.
#pragma once

#include <cstdint>

template <uint32_t Size>
struct VoiceByteQueue {
    uint8_t bytes[Size];
    uint32_t read;
    uint32_t count;

    void Clear()
    {
        read = 0;
        count = 0;
    }
    uint32_t Free() const { return Size - count; }
    // Appends what fits; returns the number appended.
    uint32_t Put(const uint8_t* in, uint32_t n)
    {
        uint32_t k = 0;
        for (; k < n && count < Size; ++k, ++count)
            bytes[(read + count) % Size] = in[k];
        return k;
    }
    // Takes up to n bytes; returns the number taken.
    uint32_t Take(uint8_t* out, uint32_t n)
    {
        uint32_t k = 0;
        for (; k < n && count != 0; ++k, --count) {
            out[k] = bytes[read];
            read = (read + 1) % Size;
        }
        return k;
    }
};
