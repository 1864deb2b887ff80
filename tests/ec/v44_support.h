// Whole-buffer helpers for the V.44 tests: an engine with its dictionaries from the pool, compression fed
// in pieces with a frame's room, decompression with a limited output room, and a bit writer that spells out
// expected code streams field by field.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "layer2/corecode/ec/v44.h"

namespace v44_test {

using Bytes = std::vector<uint8_t>;

struct Sizes {
    uint16_t codewords;
    uint16_t history;
    uint8_t string;
};

// An engine set up for both directions with the same sizes; its dictionaries go back when it is destroyed.
struct Engine {
    explicit Engine(Sizes s, uint8_t direction = 3);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    V44Engine e{};
    bool started = false;
};

// Compresses `data` in pieces of `piece` characters into frames of `room` octets, flushing after every
// `flush_every` characters (0: only at the end).
Bytes compress_all(V44Engine* e, const Bytes& data, size_t piece, size_t room, size_t flush_every);
// Decompresses `code` in pieces with output room `room` per call; stops at an error (returned).
int decompress_all(V44Engine* e, const Bytes& code, size_t piece, size_t room, Bytes* out);

// Fields least significant bit first, as the code stream carries them.
struct BitWriter {
    Bytes out;
    uint32_t acc = 0;
    int count = 0;
    BitWriter& put(uint32_t value, int bits);
    BitWriter& ordinal(uint8_t c, int bits = 7, bool after_codeword = false);
    BitWriter& codeword(uint32_t code, int bits = 6);
    BitWriter& fill();
    Bytes bytes();
};

} // namespace v44_test
