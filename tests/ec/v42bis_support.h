// Test data and whole-buffer helpers for the V.42bis tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layer2/corecode/ec/v42bis.h"

namespace v42bis_test {

using Bytes = std::vector<uint8_t>;

// Plain English-like text made from a fixed word list (seeded, the same on every run).
Bytes make_text(size_t n, uint32_t seed);
// Structured binary: records of counters, small integers and a few random octets, like a program's data.
Bytes make_binary(size_t n, uint32_t seed);
// Uniform random octets.
Bytes make_random(size_t n, uint32_t seed);
// Text and random data in alternating blocks, so the encoder changes mode many times.
Bytes make_mixed(size_t n, uint32_t seed);
// The system's copy of a licence text when it has one, else generated text of the same size.
Bytes system_text();

uint32_t next_random(uint32_t* state);

// Compresses `data` fed in pieces of `piece` octets, with output room `room` per call and a flush after
// every `flush_every` octets of input (0 = only at the end).
Bytes compress_all(V42bisContext* ctx, const Bytes& data, size_t piece, size_t room, size_t flush_every);
// Decompresses `code` fed in pieces with output room `room` per call; stops at an error (returned).
int decompress_all(V42bisContext* ctx, const Bytes& code, size_t piece, size_t room, Bytes* out);

} // namespace v42bis_test
