// A floating-point 600 bit/s DPSK transmitter for the INFO receiver tests, written from the line format:
// a carrier at 1200 or 2400 Hz sampled at 9600 Hz whose phase turns by 180 degrees for a 1 and stays for a
// 0. Each bit's phasor is spread over two bit times by a raised-cosine pulse, so the phase changes smoothly
// and the spectrum stays within the carrier +-600 Hz.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace v34test {

constexpr int kSamplesPerBit = 16;

class DpskTransmitter {
public:
    DpskTransmitter(double carrierHz, double amplitude) : step_(2 * Pi() * carrierHz / 9600.0), amplitude_(amplitude) {}

    // Sends one bit (16 samples).
    void Bit(int bit, std::vector<int16_t>* out)
    {
        const double next = bit ? -symbol_ : symbol_;
        for (int n = 0; n < kSamplesPerBit; ++n)
            Sample(next, n, out);
        symbol_ = next;
    }
    // Sends n samples of unmodulated carrier: the bit clock moves by n samples.
    void Carrier(int n, std::vector<int16_t>* out)
    {
        for (int i = 0; i < n; ++i)
            Emit(symbol_, out);
    }
    // Reverses the carrier's phase within one bit time (a single phase reversal).
    void Reversal(std::vector<int16_t>* out) { Bit(1, out); }

private:
    static double Pi() { return std::acos(-1.0); }
    // The phasor moves from the last symbol to the next along half a cosine over the bit.
    void Sample(double next, int n, std::vector<int16_t>* out)
    {
        const double w = 0.5 - 0.5 * std::cos(Pi() * (n + 0.5) / kSamplesPerBit);
        Emit(symbol_ + (next - symbol_) * w, out);
    }
    void Emit(double phasor, std::vector<int16_t>* out)
    {
        out->push_back(static_cast<int16_t>(std::lround(amplitude_ * phasor * std::cos(phase_))));
        phase_ = std::fmod(phase_ + step_, 2 * Pi());
    }

    double step_;
    double amplitude_;
    double phase_ = 0;
    double symbol_ = 1;
};

}  // namespace v34test
