// The V.32bis mode of the data pump: the glue between the modem (layer1/modem/v32) and the pump. While it
// runs, its block handler owns the sample stream at 7200 samples per second in blocks of 48; the modem's
// port joins it to the data framer and the status register.
#pragma once

#include <cstdint>

#include "layer1/dsp/detector_filters.h"
#include "layer1/modem/v32/v32.h"

struct DspContext;

struct V32Pump {
    V32Modem modem;
    int32_t blocks;                  // blocks since the start (the grade moves every 8th)
    NotchToneDetector answerTone;    // 2100 Hz at 7200 samples per second
    NotchToneDetector usb1;          // 2250 + 2850 Hz: a V.22 answerer
    NotchToneDetector v21;           // 1650 Hz
    NotchToneDetector v23;           // 1300 Hz
    int32_t ownTone[4];              // the 1800 Hz notch before them: x1, x2, y1, y2
};

void V32bisBlockHandler(DspContext* context);
// The library objects of the pump, made at the first reset and freed at removal.
bool CreateV32Objects(DspContext* context);
void DestroyV32Objects(DspContext* context);

// Fall-backs of the connection procedures (v32_fallback.cpp).
void InitV32bisFallbackDetectors(DspContext* context);
int32_t V32bisFallbackDetect(DspContext* context, int32_t sample);
void V32bisAnswerFallback(DspContext* context);
