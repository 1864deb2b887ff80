// Fixed results of the line's signal paths. The rate converters on a fixed signal give exactly the samples
// recorded when they were first measured (a hash of every output). The exchange's DTMF receiver on a fixed
// signal (every key under changing level, twist, frequency offset, duration and noise) gives the recorded
// verdicts with the recorded frequencies, levels and durations: a faster receiver must decide the same digits
// for the same reasons and measure the same values (to rounding far below anything the limits can see).
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "line/exchange_dtmf.h"
#include "line/line_model.h"
#include "line/resampler.h"
#include "line/sample_queue.h"
#include "support/result_hash.h"

namespace {

using Hash = testsupport::ResultHash;

// Every conversion of the line on a signal that starts and ends in silence, pushed and pulled in uneven
// pieces; the bits of every output go into the hash.
TEST(LineGuard, RateConvertersGiveTheRecordedSamples)
{
    struct Case {
        uint64_t in, out;
        uint64_t expected;
    };
    const Case cases[] = {
        {8000, 9600, 12583267058834521194ull},
        {9600, 8000, 10465889297520925994ull},
        {8000, 7200, 1534921522274537926ull},
        {7200, 8000, 2932969545520583393ull},
        {8000, 4800, 14580696024408603313ull},
        {4800, 8000, 17329260885096505015ull},
        {8000003, 8000000, 6139313356751211699ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        Resampler r;
        if (c.in > 100000)
            r.Configure(c.in, c.out, 8000.0, 3400.0, 4600.0);  // a clock skew: interpolated phases
        else
            r.ConfigureRates(static_cast<uint32_t>(c.in), static_cast<uint32_t>(c.out));
        Hash h;
        uint32_t noise = 7u;
        for (int piece = 0; piece < 120; ++piece) {
            const size_t n = 37 + static_cast<size_t>(piece % 5) * 29;
            std::vector<double> x(n, 0.0);
            if (piece >= 20 && piece < 90)
                for (size_t i = 0; i < n; ++i) {
                    noise = noise * 1664525u + 1013904223u;
                    x[i] = static_cast<double>(static_cast<int16_t>(noise >> 16));
                }
            r.Push(x.data(), x.size());
            double out[512];
            size_t got;
            while ((got = r.Pull(out, 1 + piece % 7 * 23)) > 0)
                for (size_t i = 0; i < got; ++i) {
                    int64_t bits;
                    std::memcpy(&bits, &out[i], sizeof(bits));
                    h.Add(bits);
                }
        }
        EXPECT_EQ(h.h, c.expected);
    }
}

// The line's queue against a plain reference: uneven pushes and pops wrap around the ring and overflow it.
TEST(LineGuard, SampleQueueKeepsOrderAcrossTheRingEnd)
{
    SampleQueue q(50);
    std::deque<int16_t> reference;
    int16_t next = 1;
    for (int step = 0; step < 400; ++step) {
        const size_t n = static_cast<size_t>((step * 7) % 23);
        if (step % 3 != 2) {
            std::vector<int16_t> in(n);
            for (int16_t& v : in)
                v = next++;
            const size_t pushed = step % 11 == 0 ? q.PushSilence(n) : q.Push(in.data(), n);
            ASSERT_EQ(pushed, std::min(n, 50 - reference.size()));
            for (size_t i = 0; i < pushed; ++i)
                reference.push_back(step % 11 == 0 ? 0 : in[i]);
        } else {
            std::vector<int16_t> out(n, -1);
            const size_t popped = q.Pop(out.data(), n);
            ASSERT_EQ(popped, std::min(n, reference.size()));
            for (size_t i = 0; i < popped; ++i) {
                ASSERT_EQ(out[i], reference.front()) << step;
                reference.pop_front();
            }
        }
        ASSERT_EQ(q.Size(), reference.size());
    }
}

struct Recorded {
    char digit;
    const char* reject;
    double durationMs, lowHz, highHz, lowDbm0, highDbm0;
};

std::vector<int16_t> Corpus()
{
    constexpr double kLow[4] = {697, 770, 852, 941};
    constexpr double kHigh[4] = {1209, 1336, 1477, 1633};
    std::vector<int16_t> x;
    uint32_t noise = 99u;
    for (int key = 0; key < 16; ++key) {
        const double deviation = 1.0 + 0.008 * ((key % 7) - 3);     // -2.4 % ... +2.4 %
        const double lowDb = -6.0 - 2.0 * (key % 12);               // -6 ... -28 dBm0
        const double twist = (key % 5) * 2.5 - 4.0;                 // -4 ... +6 dB
        const double ms = 25.0 + 5.0 * (key % 6);                   // 25 ... 50 ms
        const double a = std::sqrt(2.0 * LinePowerOfDbm0(lowDb));
        const double b = std::sqrt(2.0 * LinePowerOfDbm0(lowDb + twist));
        const double fl = kLow[key / 4] * deviation, fh = kHigh[key % 4] * deviation;
        const int n = static_cast<int>(ms * 8);
        for (int i = 0; i < n; ++i) {
            const double t = i / 8000.0;
            noise = noise * 1664525u + 1013904223u;
            const double v = a * std::sin(2 * M_PI * fl * t) + b * std::sin(2 * M_PI * fh * t + 1.0) +
                             (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 200.0;
            x.push_back(LineSaturate(v));
        }
        x.insert(x.end(), 80 * 8, 0);
    }
    return x;
}

TEST(LineGuard, DtmfReceiverVerdictsOfTheFixedSignal)
{
    const Recorded kRecorded[] = {
        {0, "too short", 24.194068, 682.094039, 1183.419866, -6.044975, -10.201295},
        {0, "too short", 29.165023, 686.069165, 1316.979263, -7.999247, -9.597363},
        {'3', nullptr, 34.376510, 691.629469, 1466.310678, -9.993053, -9.007561},
        {'A', nullptr, 39.148152, 696.948003, 1632.881871, -11.982193, -8.489877},
        {0, "twist", 44.398434, 774.673586, 1218.216198, -13.995968, -8.005534},
        {'5', nullptr, 48.940817, 781.269510, 1356.312427, -15.983823, -20.076227},
        {0, "too short", 24.758664, 785.944618, 1508.396175, -18.113273, -19.734356},
        {0, "too short", 29.819505, 753.081385, 1597.842242, -20.073106, -19.314656},
        {'7', nullptr, 34.287394, 839.726230, 1191.045580, -21.981073, -18.591130},
        {0, "twist", 38.998835, 845.571975, 1325.941593, -23.926864, -17.948570},
        {'9', nullptr, 43.593076, 851.911230, 1477.077879, -25.850818, -29.916672},
        {'C', nullptr, 48.665153, 858.399884, 1645.133931, -27.884889, -29.444246},
        {0, "too short", 23.724230, 952.704401, 1227.235246, -5.993281, -4.992026},
        {0, "too short", 30.086993, 960.725452, 1364.765467, -8.145329, -4.699525},
        {0, "twist", 34.803674, 920.648029, 1444.378367, -10.035338, -4.209883},
        {'D', nullptr, 39.390906, 926.857932, 1608.667874, -11.995449, -16.134634},
    };
    std::vector<int16_t> x = Corpus();
    DtmfReceiver r;
    DtmfReceiverInit(&r);
    std::vector<DtmfVerdict> got;
    for (size_t i = 0; i + 80 <= x.size(); i += 80) {
        DtmfReceiverRun(&r, x.data() + i, 80);
        for (int k = 0; k < r.verdictCount; ++k)
            got.push_back(r.verdicts[k]);
        r.verdictCount = 0;
    }
    std::string table;
    for (const DtmfVerdict& v : got) {
        char line[200];
        std::snprintf(line, sizeof(line), "        {%d, %s%s%s, %.6f, %.6f, %.6f, %.6f, %.6f},\n", v.digit,
                      v.reject ? "\"" : "", v.reject ? v.reject : "nullptr", v.reject ? "\"" : "", v.durationMs,
                      v.lowHz, v.highHz, v.lowDbm0, v.highDbm0);
        table += line;
    }
    ASSERT_EQ(got.size(), std::size(kRecorded)) << table;
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const DtmfVerdict& v = got[i];
        const Recorded& e = kRecorded[i];
        EXPECT_EQ(v.digit, e.digit);
        EXPECT_EQ(std::string(v.reject ? v.reject : ""), std::string(e.reject ? e.reject : ""));
        EXPECT_NEAR(v.durationMs, e.durationMs, 1e-4);
        EXPECT_NEAR(v.lowHz, e.lowHz, 1e-4);
        EXPECT_NEAR(v.highHz, e.highHz, 1e-4);
        EXPECT_NEAR(v.lowDbm0, e.lowDbm0, 1e-4);
        EXPECT_NEAR(v.highDbm0, e.highDbm0, 1e-4);
    }
}

// Every bit of every verdict on the fixed signal and on plain keyed digits (16 keys, 50 ms on, 50 ms off):
// the receiver's arithmetic may be reorganised only where it gives the same doubles.
TEST(LineGuard, DtmfReceiverVerdictsKeepTheirBits)
{
    std::vector<int16_t> x = Corpus();
    for (int key = 0; key < 16; ++key) {
        constexpr double kLow[4] = {697, 770, 852, 941};
        constexpr double kHigh[4] = {1209, 1336, 1477, 1633};
        for (int i = 0; i < 800; ++i) {
            const double t = i / 8000.0;
            const double v = i < 400 ? 5000 * std::sin(2 * M_PI * kLow[key / 4] * t) +
                                           4000 * std::sin(2 * M_PI * kHigh[key % 4] * t)
                                     : 0.0;
            x.push_back(LineSaturate(v));
        }
    }
    DtmfReceiver r;
    DtmfReceiverInit(&r);
    Hash h;
    int digits = 0;
    for (size_t i = 0; i + 80 <= x.size(); i += 80) {
        DtmfReceiverRun(&r, x.data() + i, 80);
        for (int k = 0; k < r.verdictCount; ++k) {
            const DtmfVerdict& v = r.verdicts[k];
            digits += v.digit != 0;
            h.Add(v.digit);
            h.Add(v.reject ? static_cast<int64_t>(std::strlen(v.reject)) : -1);
            for (double d : {v.durationMs, v.lowHz, v.highHz, v.lowDbm0, v.highDbm0}) {
                int64_t bits;
                std::memcpy(&bits, &d, sizeof(bits));
                h.Add(bits);
            }
        }
        r.verdictCount = 0;
    }
    EXPECT_EQ(digits, 7 + 16);
    EXPECT_EQ(h.h, 17287925117081037874ull);
}

// The receiver works in decision steps of 8 samples: blocks that cut the steps anywhere give the same verdicts,
// to the last bit, as whole 10 ms blocks.
TEST(LineGuard, DtmfReceiverVerdictsDoNotDependOnTheBlockSize)
{
    const std::vector<int16_t> x = Corpus();
    auto run = [&x](bool odd) {
        DtmfReceiver r;
        DtmfReceiverInit(&r);
        std::vector<DtmfVerdict> got;
        for (size_t i = 0, b = 0; i < x.size(); ++b) {
            const size_t want = odd ? 1 + (b * 7) % 13 : 80;
            const size_t n = want < x.size() - i ? want : x.size() - i;
            DtmfReceiverRun(&r, x.data() + i, n);
            i += n;
            for (int k = 0; k < r.verdictCount; ++k)
                got.push_back(r.verdicts[k]);
            r.verdictCount = 0;
        }
        return got;
    };
    const std::vector<DtmfVerdict> whole = run(false);
    const std::vector<DtmfVerdict> cut = run(true);
    ASSERT_EQ(whole.size(), cut.size());
    ASSERT_GT(whole.size(), 10u);
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(whole[i].digit, cut[i].digit) << i;
        EXPECT_EQ(whole[i].durationMs, cut[i].durationMs) << i;
        EXPECT_EQ(whole[i].lowHz, cut[i].lowHz) << i;
        EXPECT_EQ(whole[i].highHz, cut[i].highHz) << i;
        EXPECT_EQ(whole[i].lowDbm0, cut[i].lowDbm0) << i;
        EXPECT_EQ(whole[i].highDbm0, cut[i].highDbm0) << i;
    }
}

}  // namespace
