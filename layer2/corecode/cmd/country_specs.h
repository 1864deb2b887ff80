// Readable descriptions of the built-in countries, from which the 1649-byte built-in blocks are built once.
// The tones, cadences and dialling rules are those each country's network publishes (ITU-T E.180 and the
// national standards); the builder derives the detector filters and cadence bounds from them by one rule.
#pragma once

#include <cstdint>

struct CountrySignalSpec {
    uint16_t f1;
    uint16_t f2;        // 0 = single frequency
    uint8_t modulated;  // f1 amplitude-modulated by f2
    uint8_t level;      // dB below 0 dBm0
    uint8_t pairs;      // 0 = continuous
    uint16_t on_off[8]; // on, off, on, off, ... ms
};

struct CountryCwSpec {
    uint8_t kind;  // 1 call-waiting tone bursts, 2 caller-ID alerting signal
    uint8_t count;
    uint8_t flags;
    uint16_t bounds[4];  // min, max per interval
};

struct CountrySpec {
    uint16_t dial_code;
    uint8_t t35;
    const char* iso;
    const char* name;
    uint8_t pulse_allowed;
    uint8_t tone_allowed;
    uint16_t dial_tone_wait_ms;
    uint16_t silence_ms;
    uint8_t dtmf_on_ms;
    uint8_t dtmf_off_ms;
    uint8_t dtmf_level_high;  // 0.1 dB
    uint8_t dtmf_level_low;   // 0.1 dB
    uint16_t pulse_make_ms;
    uint16_t pulse_break_ms;
    uint16_t interdigit_ms;
    uint16_t flash_ms;
    CountrySignalSpec dial, busy, congestion, ringback, ringing;
    // Call restrictions: attempts (0 none), maximum failure index, flags, restriction time s, delays s.
    uint8_t bl_attempts;
    uint8_t bl_max_index;
    uint8_t bl_flags;
    uint16_t bl_restriction_s;
    uint16_t bl_delays[4];
    // S-register overrides {reg, default, min, max, excluded start, excluded end}.
    uint8_t s_count;
    uint8_t s_limits[3][6];
    uint8_t cw_count;
    CountryCwSpec cw[2];
};

const CountrySpec* country_specs();  // COUNTRY_BUILTIN_BLOCKS entries, block order
