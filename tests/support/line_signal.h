// Signal helpers for the line and pump tests: tones, and the measurement of a tone in a recorded signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace linetest {

std::vector<double> Tone(double hz, double rate, double amplitude, size_t n, double phase = 0.0);
std::vector<int16_t> ToneS16(double hz, double rate, double amplitude, size_t n);
std::vector<double> ToDouble(const std::vector<int16_t>& x);

struct ToneFit {
    double frequency = 0;  // Hz
    double amplitude = 0;
    double phase = 0;      // radians, of cos at sample 0
    double residualDb = 0; // power of everything else relative to the tone's power (negative: below)
};

// Fits one sine near f0 (within a few Hz) to x[begin, end): frequency by the phase slope between the two
// halves, then amplitude and phase by least squares; the residual holds noise, images and aliases.
ToneFit FitTone(const std::vector<double>& x, double rate, double f0, size_t begin, size_t end);

// A per-process path prefix in the test temporary folder (concurrent runs never share files or sockets).
std::string TempPrefix();

double PowerDb(const std::vector<double>& x, size_t begin, size_t end);  // 10 log10 of the mean square
double Db(double ratio);

}  // namespace linetest
