// Two V.32bis modems on the duplex line: a caller and an answerer, each with a bit source and a sink, run
// block by block until both carry data or time runs out.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "layer1/modem/v32/v32.h"
#include "support/duplex_line.h"

namespace v32test {

struct End {
    V32Modem modem{};
    std::vector<uint8_t> sent;       // data bits handed to the transmitter (after its 128 ones)
    std::vector<uint8_t> received;   // bits the receiver delivered
    std::vector<uint8_t> statuses;   // register-54 writes
    std::mt19937 rng;
    bool random = false;             // false: ones
    size_t limit = SIZE_MAX;         // data bits to send, then ones
    int fallbacks = 0;
};

inline int32_t GetBits(void* owner, int32_t n)
{
    End* e = static_cast<End*>(owner);
    uint32_t bits = 0;
    for (int32_t k = 0; k < n; ++k) {
        uint32_t b = 1;
        if (e->random && e->sent.size() < e->limit) {
            b = e->rng() & 1u;
            e->sent.push_back(static_cast<uint8_t>(b));
        }
        bits |= b << k;
    }
    return static_cast<int32_t>(bits);
}

inline void PutBits(void* owner, uint32_t bits, int32_t n)
{
    End* e = static_cast<End*>(owner);
    for (int32_t k = 0; k < n; ++k)
        e->received.push_back(static_cast<uint8_t>((bits >> k) & 1u));
}

inline void Status(void* owner, uint8_t value, int set)
{
    End* e = static_cast<End*>(owner);
    e->statuses.push_back(static_cast<uint8_t>(set ? value : value | 0x80));
}

inline void AnswerFallback(void* owner) { static_cast<End*>(owner)->fallbacks += 1; }

constexpr uint16_t kAllRates = 0x3E;

struct PairOptions {
    uint8_t callerRates = kAllRates;   // rate options (bit 1 4800 ... bit 5 14400)
    uint8_t answererRates = kAllRates;
    int32_t mode = 16;
    linetest::DuplexParams line;
    int32_t gain = 16033;              // Q13: -6 dB of the table, as the pump's default level gives
    uint16_t callerWord = 0;           // a capability word instead of the rate options (0: from the options)
    uint16_t answererWord = 0;
    bool direct = false;               // both ends start trained at once (start type 0), side 0 originating
};

// The usual test line: near echo at 10 dB, far echo 16 dB down coming back after the line's round trip
// (farDelayMs; the line carries each direction in half of it), 30 dB signal-to-noise ratio.
// The signal-to-noise ratio refers to -6 dBm0, 2.6 dB above the level the pair sends at (the true ratio is that
// much lower).
inline linetest::DuplexParams EchoLine(double farDelayMs, double ppm, double snrDb = 30.0, uint32_t seed = 1)
{
    linetest::DuplexParams p;
    p.levelDbm0 = -6.0;
    p.seed = seed;
    p.bulkDelayMs = farDelayMs / 2.0;
    for (int s = 0; s < 2; ++s) {
        p.side[s].snrDb = snrDb;
        p.side[s].nearLossDb = 10.0;
        p.side[s].nearDelayMs = 0.5;
        p.side[s].farLossDb = 16.0;
        p.side[s].farDelayMs = farDelayMs;
    }
    p.side[1].skewPpm = ppm;
    return p;
}

class Pair {
public:
    static constexpr size_t kPrefill = 96;

    explicit Pair(const PairOptions& o) : line_(o.line)
    {
        // What a sent sample takes to come back as its own echo: the line's latency, plus one block, since each
        // step hands the line what the modems sent and the modems hear the line's output only in the next step.
        const int32_t latency = linetest::DuplexLine::EchoLatency(o.line, kPrefill) + kV32BlockSamples;
        ends_[0] = std::make_unique<End>();
        ends_[1] = std::make_unique<End>();
        for (int s = 0; s < 2; ++s) {
            End& e = *ends_[s];
            e.rng.seed(17u + static_cast<uint32_t>(s));
            V32Create(&e.modem);
            const V32Port port{&e, GetBits, PutBits, Status, AnswerFallback, nullptr};
            const uint8_t rates = s == 0 ? o.callerRates : o.answererRates;
            const uint16_t word = s == 0 ? o.callerWord : o.answererWord;
            const int32_t type = o.direct ? V32_START_DIRECT : (s == 0 ? V32_START_CALLER : V32_START_ANSWERER);
            V32Start(&e.modem, port, type, 1, o.mode, word ? word : V32CapabilityWord(rates, o.mode), o.gain, latency,
                     s == 0 ? 1 : 0);
        }
        line_.Prefill(kPrefill);
    }
    ~Pair()
    {
        for (auto& e : ends_)
            V32Destroy(&e->modem);
    }

    End& Caller() { return *ends_[0]; }
    End& Answerer() { return *ends_[1]; }
    End& Side(int s) { return *ends_[s]; }

    void Step()
    {
        int16_t out[2][kV32BlockSamples];
        for (int s = 0; s < 2; ++s)
            V32Block(&ends_[s]->modem, in_[s], out[s], kV32BlockSamples);
        const int16_t* o[2] = {out[0], out[1]};
        int16_t* i[2] = {in_[0], in_[1]};
        line_.Step(o, i, kV32BlockSamples);
        blocks_ += 1;
    }

    // Runs until both sides carry data (true) or the seconds pass.
    bool RunUntilData(double seconds)
    {
        const long limit = static_cast<long>(seconds * kV32SampleRate / kV32BlockSamples);
        for (long k = 0; k < limit; ++k) {
            Step();
            if (Caller().modem.dataRunning && Answerer().modem.dataRunning)
                return true;
        }
        return false;
    }

    void Run(double seconds)
    {
        const long limit = static_cast<long>(seconds * kV32SampleRate / kV32BlockSamples);
        for (long k = 0; k < limit; ++k)
            Step();
    }

    // Bit errors of what side `to` received against what the other side sent, from where the sent data
    // starts in the received stream; every sent bit missing at the end counts. -1: the data never showed.
    long Errors(int to, size_t* compared)
    {
        const std::vector<uint8_t>& want = Side(1 - to).sent;
        const std::vector<uint8_t>& got = Side(to).received;
        *compared = 0;
        const size_t key = 64;
        if (want.size() < key)
            return -1;
        for (size_t at = 0; at + key <= got.size(); ++at) {
            size_t k = 0;
            while (k < key && got[at + k] == want[k])
                ++k;
            if (k < key)
                continue;
            long errors = 0;
            for (size_t i = 0; i < want.size(); ++i) {
                const size_t g = at + i;
                if (g >= got.size())
                    break;
                errors += got[g] != want[i];
                *compared += 1;
            }
            return errors;
        }
        return -1;
    }

    uint64_t LineGlitches() const { return line_.LineGlitches() + line_.Underruns(); }

    double Seconds() const { return static_cast<double>(blocks_) * kV32BlockSamples / kV32SampleRate; }

    std::string Describe()
    {
        std::string s;
        for (int k = 0; k < 2; ++k) {
            const V32Modem& m = ends_[k]->modem;
            s += (k == 0 ? "caller" : " answerer");
            s += " tx " + std::to_string(m.tx.state) + " rx " + std::to_string(m.rx.state) + " progress " +
                 std::to_string(m.progress) + " delay " + std::to_string(m.echoDelay) + " rate " +
                 std::to_string(m.rateCode) + " m " + std::to_string(m.rx.errorMeasure >> 16);
        }
        return s + " at " + std::to_string(Seconds()) + " s";
    }

private:
    linetest::DuplexLine line_;
    std::unique_ptr<End> ends_[2];
    int16_t in_[2][kV32BlockSamples] = {};
    long blocks_ = 0;
};

}  // namespace v32test
