// Fixed-size byte ring of the DTE side. Positions and count are 16-bit and wrap at N; a put on a
// full ring is refused (the caller keeps or counts the byte), so a ring never overwrites.
// The caller holds the ring's lock; these helpers do no locking of their own.
#pragma once

#include <cstdint>

template <uint16_t N>
struct ByteRing {
    uint8_t buffer[N];
    uint16_t read;
    uint16_t write;
    uint16_t count;
};

template <uint16_t N>
inline void ring_clear(ByteRing<N>* r)
{
    r->read = 0;
    r->write = 0;
    r->count = 0;
}

template <uint16_t N>
inline uint16_t ring_free(const ByteRing<N>* r)
{
    return static_cast<uint16_t>(N - r->count);
}

// 0 = stored, 1 = refused because the ring is full.
template <uint16_t N>
inline int ring_put(ByteRing<N>* r, uint8_t c)
{
    if (r->count >= N)
        return 1;
    r->buffer[r->write] = c;
    r->write = static_cast<uint16_t>(r->write + 1);
    if (r->write >= N)
        r->write = 0;
    r->count = static_cast<uint16_t>(r->count + 1);
    return 0;
}

// The caller has checked that the ring is not empty.
template <uint16_t N>
inline uint8_t ring_get(ByteRing<N>* r)
{
    uint8_t c = r->buffer[r->read];
    r->read = static_cast<uint16_t>(r->read + 1);
    if (r->read >= N)
        r->read = 0;
    r->count = static_cast<uint16_t>(r->count - 1);
    return c;
}

template <uint16_t N>
inline uint8_t ring_peek(const ByteRing<N>* r)
{
    return r->buffer[r->read];
}
