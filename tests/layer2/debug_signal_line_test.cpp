// The debug set's signal tests on the line: the real data pump plays each test tone until a character
// arrives, and what reaches the line is measured (DTMF by an independent receiver, single tones by their
// peak frequency), burst by burst.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "core_fixture.h"
#include "dsp_real_pump.h"
#include "layer1/tone_measure.h"
#include "line/line_port.h"
#include "line/wav_file.h"
#include "signal_bursts.h"

namespace {

using debugtest::Burst;
using debugtest::Bursts;
using debugtest::TakeRecording;

TEST(DebugSignalTest, TonesReachTheLineUntilACharacterArrives)
{
    const struct {
        const char* code;
        const char* dtmf;   // expected digits, or null for a single tone
        double hz;
        double low, high;   // DTMF frequencies
    } cases[] = {
        {"05", "5", 0, 770, 1336}, {"0B", "#", 0, 941, 1477}, {"0F", "D", 0, 941, 1633},
        {"10", nullptr, 980, 0, 0}, {"1B", nullptr, 2100, 0, 0}, {"31", nullptr, 2100, 0, 0},
        {"34", nullptr, 1100, 0, 0},
    };
    coretest::TempRegistry reg;
    const std::string path = reg.Path() + ".tt.raw";
    {
        dsptest::RealPumpModem modem("");
        std::string error;
        // The far end is silent: the modem hears nothing of its own tones.
        LineEndpoint* loop = LineFileEndpointCreate("", "", &error);
        ASSERT_NE(loop, nullptr) << error;
        LineConnect(modem.Network(), &modem.Port()->endpoint, loop, LineConnectionParams{});
        ASSERT_TRUE(LinePortSetCaptures(modem.Port(), path, "", &error)) << error;
        EXPECT_EQ(modem.Dialogue("AT*DEBUGON\r"), "AT*DEBUGON\r\r\nOK\r\n");
        for (const auto& c : cases) {
            const std::string line = std::string("AT*TT") + c.code + "\r";
            EXPECT_EQ(modem.Dialogue(line, 600), line + "\r\nOK\r\n");
            const std::string during = modem.Read(600);
            modem.Send("x");
            const std::string after = modem.Read(800);
            EXPECT_EQ(during, "");
            EXPECT_EQ(after, "");  // the character only ends the test
        }
        EXPECT_EQ(modem.Dialogue("AT*TT14\r"), "AT*TT14\r\r\nERROR\r\n");  // no test of that code
        modem.Shutdown();
        LinePortCloseCaptures(modem.Port());
        LineDisconnect(modem.Network(), modem.Network()->connections.front().get());
        LineEndpointDestroy(loop);
    }
    std::string error;
    std::vector<double> x;
    ASSERT_TRUE(TakeRecording(path, &x, &error)) << error;

    const std::vector<Burst> bursts = Bursts(x);
    ASSERT_EQ(bursts.size(), sizeof cases / sizeof cases[0]);
    for (size_t k = 0; k < bursts.size(); ++k) {
        SCOPED_TRACE(cases[k].code);
        const Burst& b = bursts[k];
        // Played for the whole wait (about 1.2 s here), and stopped by the character.
        EXPECT_GT(b.last - b.first, 8000u);
        const std::vector<double> burst(x.begin() + static_cast<long>(b.first), x.begin() + static_cast<long>(b.last));
        if (cases[k].dtmf != nullptr) {
            EXPECT_EQ(tonetest::DecodeDtmf(burst), cases[k].dtmf);
            // The high group at or a little above the low group, as DTMF senders make it.
            const std::vector<double> middle(burst.begin() + 800, burst.begin() + 4800);
            const double twist = 20 * std::log10(tonetest::Amplitude(middle, cases[k].high) /
                                                 tonetest::Amplitude(middle, cases[k].low));
            EXPECT_GT(twist, -1.0);
            EXPECT_LT(twist, 4.0);
        } else {
            const std::vector<double> middle(burst.begin() + 800, burst.begin() + 4800);
            EXPECT_NEAR(tonetest::PeakFrequency(middle, cases[k].hz), cases[k].hz, 2.0);
        }
    }
}

// The analog loop-back tests with the real data pump: the modulation's transmitter reaches the line in its
// channel (V.22 and V.22bis on 1200 Hz originating and 2400 Hz answering, V.32 and V.32bis on 1800 Hz) until a
// character arrives.
TEST(DebugSignalTest, LoopBackTestsSendTheirModulation)
{
    const struct {
        const char* code;
        double carrierHz;
    } cases[] = {{"15", 1200}, {"16", 2400}, {"17", 1200}, {"18", 2400}, {"20", 1800}, {"21", 1800}};
    coretest::TempRegistry reg;
    const std::string path = reg.Path() + ".alb.raw";
    {
        dsptest::RealPumpModem modem("");
        std::string error;
        LineEndpoint* loop = LineFileEndpointCreate("", "", &error);
        ASSERT_NE(loop, nullptr) << error;
        LineConnect(modem.Network(), &modem.Port()->endpoint, loop, LineConnectionParams{});
        ASSERT_TRUE(LinePortSetCaptures(modem.Port(), path, "", &error)) << error;
        EXPECT_EQ(modem.Dialogue("AT*DEBUGON\r"), "AT*DEBUGON\r\r\nOK\r\n");
        for (const auto& c : cases) {
            const std::string line = std::string("AT*TT") + c.code + "\r";
            EXPECT_EQ(modem.Dialogue(line, 600), line + "\r\nOK\r\n");
            EXPECT_EQ(modem.Read(1500), "");
            modem.Send("x");
            EXPECT_EQ(modem.Read(800), "");
        }
        modem.Shutdown();
        LinePortCloseCaptures(modem.Port());
        LineDisconnect(modem.Network(), modem.Network()->connections.front().get());
        LineEndpointDestroy(loop);
    }
    std::string error;
    std::vector<double> x;
    ASSERT_TRUE(TakeRecording(path, &x, &error)) << error;

    const std::vector<Burst> bursts = Bursts(x);
    ASSERT_EQ(bursts.size(), sizeof cases / sizeof cases[0]);
    for (size_t k = 0; k < bursts.size(); ++k) {
        SCOPED_TRACE(cases[k].code);
        const Burst& b = bursts[k];
        EXPECT_GT(b.last - b.first, 8000u);
        const std::vector<double> middle(x.begin() + static_cast<long>(b.first) + 2400,
                                         x.begin() + static_cast<long>(b.first) + 2400 + 4096);
        // The signal's power lies in the carrier's band: more there than 600 Hz to either side of it.
        const double on = tonetest::Amplitude(middle, cases[k].carrierHz - 150) +
                          tonetest::Amplitude(middle, cases[k].carrierHz + 150);
        const double off = cases[k].carrierHz == 1200 ? tonetest::Amplitude(middle, 2400) : tonetest::Amplitude(middle, 1200);
        EXPECT_GT(on, 4 * off) << on << " " << off;
    }
}

}  // namespace
