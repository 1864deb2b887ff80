// A data pump whose received blocks come from a test signal, run block by block as the block thread runs
// them, with the controller's view of what the detectors report: register 56 and 57 changes, notifications,
// event characters and detector reports, each with the block it came in.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "layer1/dsp/detector_reports.h"
#include "layer1/dsp/mode_entries.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "tests/layer1/dsp_fixture.h"

namespace dettest {

using dsptest::Bytes;

constexpr int kBlock = 96;
constexpr double kRate = 9600.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kZeroDbm0 = 22826.0;  // amplitude of a 0 dBm0 sine

inline double Amplitude(double dbm0) { return kZeroDbm0 * std::pow(10.0, dbm0 / 20.0); }

struct Event {
    uint64_t block;
    uint8_t code;      // packet code
    Bytes payload;
};

struct Observed {
    std::vector<Event> events;                 // packets other than acknowledgements
    std::vector<std::pair<uint64_t, uint8_t>> reg57;  // changes of register 57 (block, value)
    std::vector<std::pair<uint64_t, uint8_t>> reg56;
    uint64_t notifications = 0;

    std::vector<uint8_t> Chars() const
    {
        std::vector<uint8_t> out;
        for (const Event& e : events) {
            if (e.code == IcdEventChar && !e.payload.empty())
                out.push_back(e.payload[0]);
        }
        return out;
    }
    size_t Count(uint8_t ch) const
    {
        size_t n = 0;
        for (uint8_t c : Chars())
            n += c == ch;
        return n;
    }
};

class DetectorBench : public dsptest::DspBench {
public:
    DetectorBench()
    {
        lower.iface.readBlock = &ReadFeed;
        WindowStore(block.get(), kRegHostControl, kNotifyEnable);
        Send(0x7D, {0, 0});  // the command entry passes register 247 on
        Taken();
    }
    ~DetectorBench() { feed = nullptr; }

    void Mode(uint8_t mode, uint8_t flags = 1) { Send(0x65, {mode, flags}); }

    // ICD 0x0E: 16-bit words at a DSP address of bank 1 (at most 7 words per command).
    void WriteMemory(uint32_t address, const std::vector<uint16_t>& words)
    {
        Bytes p{static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>((address >> 8) & 0xFF)};
        for (uint16_t w : words) {
            p.push_back(static_cast<uint8_t>(w & 0xFF));
            p.push_back(static_cast<uint8_t>(w >> 8));
        }
        Send(0x0E, p);
    }

    // Detector coefficient set s from the 15 words, written as the controller writes a filter (7 + 7 + 1).
    void LoadSet(int s, const uint16_t w[15])
    {
        const uint32_t a = 0x101D8 + 15 * static_cast<uint32_t>(s);
        WriteMemory(a, {w[0], w[1], w[2], w[3], w[4], w[5], w[6]});
        WriteMemory(a + 7, {w[7], w[8], w[9], w[10], w[11], w[12], w[13]});
        WriteMemory(a + 14, {w[14]});
    }

    // Runs whole blocks of the signal through the block loop.
    Observed Run(const std::vector<int16_t>& x)
    {
        Observed o;
        const uint64_t firstBlock = blockCount;
        uint8_t r56 = Reg(kRegProgress);
        uint8_t r57 = Reg(kRegDetector);
        for (size_t at = 0; at + kBlock <= x.size(); at += kBlock) {
            feed = x.data() + at;
            const uint64_t before = callbacks.load();
            PerBlockEntry(context.get());
            feed = nullptr;
            const std::vector<Bytes> got = Taken();
            const uint64_t calls = callbacks.load() - before;
            o.notifications += calls - got.size();
            for (const Bytes& p : got)
                o.events.push_back(Event{blockCount, p[0], Bytes(p.begin() + 4, p.end())});
            if (Reg(kRegProgress) != r56) {
                r56 = Reg(kRegProgress);
                o.reg56.push_back({blockCount, r56});
            }
            if (Reg(kRegDetector) != r57) {
                r57 = Reg(kRegDetector);
                o.reg57.push_back({blockCount, r57});
            }
            blockCount += 1;
        }
        (void)firstBlock;
        return o;
    }

    uint64_t blockCount = 0;

private:
    static inline thread_local const int16_t* feed = nullptr;
    static uint16_t ReadFeed(void*, int16_t* buffer, uint32_t bytes)
    {
        if (feed != nullptr)
            std::memcpy(buffer, feed, bytes);
        else
            std::memset(buffer, 0, bytes);
        return 1;
    }
};

// Signals at 9600 samples/s.
inline int16_t Clip(double v)
{
    return static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

// Tones (Hz, amplitude) summed over n samples, continuing from a phase counter.
struct ToneMix {
    std::vector<std::pair<double, double>> tones;
    uint64_t t = 0;
    void Add(std::vector<int16_t>& out, size_t n, bool on)
    {
        for (size_t i = 0; i < n; ++i, ++t) {
            double v = 0;
            if (on) {
                for (auto& [hz, a] : tones)
                    v += a * std::sin(2.0 * kPi * hz * static_cast<double>(t) / kRate);
            }
            out.push_back(Clip(v));
        }
    }
};

// A cadenced tone: on/off times in samples, repeated `cycles` times, after `lead` samples of silence.
inline std::vector<int16_t> Cadenced(ToneMix mix, size_t lead, size_t on, size_t off, int cycles, size_t tail)
{
    std::vector<int16_t> out;
    mix.Add(out, lead, false);
    for (int c = 0; c < cycles; ++c) {
        mix.Add(out, on, true);
        mix.Add(out, off, false);
    }
    mix.Add(out, tail, false);
    return out;
}

inline std::vector<int16_t> WhiteNoise(size_t n, double rms, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, rms);
    std::vector<int16_t> out(n);
    for (auto& v : out)
        v = Clip(g(rng));
    return out;
}

// White noise through a 300-3400 Hz band-pass (two second-order high-pass and four low-pass sections).
inline std::vector<int16_t> SpeechBandNoise(size_t n, double rms, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    struct Biquad {
        double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
        double Run(double x)
        {
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    auto make = [](double f, bool high) {
        const double w = 2 * kPi * f / kRate, q = 0.7071, alpha = std::sin(w) / (2 * q), c = std::cos(w);
        const double a0 = 1 + alpha;
        if (high)
            return Biquad{(1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
        return Biquad{(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
    };
    Biquad f[6] = {make(300, true), make(300, true), make(3400, false), make(3400, false), make(3400, false),
                   make(3400, false)};
    std::vector<double> y(n);
    double power = 0;
    for (size_t i = 0; i < n; ++i) {
        double v = g(rng);
        for (auto& b : f)
            v = b.Run(v);
        y[i] = v;
        power += v * v;
    }
    const double scale = rms / std::sqrt(power / static_cast<double>(n));
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = Clip(y[i] * scale);
    return out;
}

}  // namespace dettest

namespace dettest {

// A detector coefficient set as the controller programs one (15 words): two resonator stages at f1 and f2,
// each normalised to unit gain at its own centre, numerator 1 - z^-2, in the sections' Q14 format.
inline void ResonatorSet(double f1, double f2, double bandwidth, uint16_t bitsWord, uint16_t w[15])
{
    auto q14 = [](double v) {
        long r = std::lround(v * 16384.0);
        r = r > 32767 ? 32767 : (r < -32768 ? -32768 : r);
        return static_cast<uint16_t>(static_cast<int16_t>(r));
    };
    auto stage = [&](double f, uint16_t* out) {
        const double r = 1.0 - kPi * bandwidth / kRate, th = 2.0 * kPi * f / kRate;
        const double a1 = 2.0 * r * std::cos(th), a2 = -r * r;
        const double re = 1.0 - std::cos(2 * th), im = std::sin(2 * th);
        const double dre = 1.0 - a1 * std::cos(th) - a2 * std::cos(2 * th);
        const double dim = a1 * std::sin(th) + a2 * std::sin(2 * th);
        const double g = std::sqrt((dre * dre + dim * dim) / (re * re + im * im));
        out[0] = q14(-g);
        out[1] = 0;
        out[2] = q14(g);
        out[3] = q14(a2);
        out[4] = q14(a1);
    };
    uint16_t c[10];
    stage(f1, c);
    stage(f2, c + 5);
    for (int k = 0; k < 10; ++k)
        w[k] = c[k];
    w[10] = 255;      // energy gain
    w[11] = 0x7F00;   // leak
    w[12] = bitsWord; // result bits in the high byte
    w[13] = 0x3000;   // on and off thresholds, in sixteenths
    w[14] = 0x2000;
}

// The country block's call-progress filter as the controller writes it into a detector set: filter words
// 2-13, the result-bits word, then filter words 14 and 15.
inline void CountryFilter(unsigned country, uint16_t bitsWord, uint16_t w[15])
{
    const CountryBlock& b = country_builtin_block(country);
    uint16_t p[16];
    for (int k = 0; k < 16; ++k)
        p[k] = cb_u16(b, CB_FILTER_SETS + 2 * k);
    for (int k = 0; k < 7; ++k)
        w[k] = p[2 + k];
    for (int k = 0; k < 5; ++k)
        w[7 + k] = p[9 + k];
    w[12] = bitsWord;
    w[13] = p[14];
    w[14] = p[15];
}

}  // namespace dettest
