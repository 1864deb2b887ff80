// What the exchange sends to show the caller: the caller-ID message (multiple data message format with date
// and time, number and name, or the single data message format) in 1200 bit/s V.23 frequency-shift keying at
// 8000 Hz, and the call-waiting tone that announces a second caller to a line in conversation.
//
// On hook the message follows a channel seizure (alternating bits) and a mark signal, between the first and
// second ring; during a call (call waiting) it follows the tone and a mark signal alone. The sender renders
// the whole signal once into a sample buffer and plays it out frame by frame; a test may fill the buffer from
// another generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t kCallerIdMultiple = 0x80;
constexpr uint8_t kCallerIdSingle = 0x04;

struct CallerIdFields {
    std::string dateTime;  // "MMDDhhmm"
    std::string number;    // empty: the number is withheld ("P")
    std::string name;      // empty: no name parameter
};

// The message {type, length, parameters, checksum}; the checksum makes the bytes sum to 0 modulo 256. A
// number or name too long for the one-byte length is cut to what fits.
std::vector<uint8_t> CallerIdMultipleMessage(const CallerIdFields& f);
std::vector<uint8_t> CallerIdSingleMessage(const CallerIdFields& f);

struct CallerIdFskOptions {
    int seizureBits = 300;  // alternating bits, first a 0; 0 during a call
    int markBits = 180;
    int trailingMarks = 5;
    double levelDbm0 = -13.0;
};

// Appends the 8000 Hz V.23 signal of the message (each byte a start bit, eight data bits from the lowest,
// a stop bit) to `out`, phase-continuous from bit to bit.
void CallerIdFskRender(const std::vector<uint8_t>& message, const CallerIdFskOptions& options,
                       std::vector<int16_t>* out);

// Appends tone bursts at `hz`: on, off, on, off ... milliseconds.
void CallerIdToneRender(uint16_t hz, double levelDbm0, const uint16_t* onOffMs, size_t count,
                        std::vector<int16_t>* out);

// Plays a rendered signal out in frames; once played it is silent.
struct CallerIdSender {
    std::vector<int16_t> samples;
    size_t position = 0;
};

bool CallerIdSenderActive(const CallerIdSender& s);
// Adds the next n samples to out (nothing once played).
void CallerIdSenderMix(CallerIdSender* s, int16_t* out, size_t n);
