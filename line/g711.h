// G.711 companding (A-law and mu-law) for the network side of the line.
#pragma once

#include <cstdint>

enum LineCompanding : int32_t {
    LINE_COMPANDING_NONE = 0,
    LINE_COMPANDING_ALAW = 1,
    LINE_COMPANDING_ULAW = 2,
};

uint8_t LinearToAlaw(int16_t pcm);
int16_t AlawToLinear(uint8_t code);
uint8_t LinearToUlaw(int16_t pcm);
int16_t UlawToLinear(uint8_t code);
// Encodes and decodes one sample with the given law (NONE returns it unchanged).
int16_t Compand(int32_t law, int16_t pcm);
