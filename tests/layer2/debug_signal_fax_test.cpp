// The debug set's fax configuration tests on the line: the real data pump starts the class 1 transmitter of
// the test's modulation until a character arrives; an independent receiver of each modulation (V.27ter,
// V.29, V.17) must train on what reaches the line, and V.21 channel 2 must sit on its two tones.
#include <gtest/gtest.h>

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

#ifdef HAVE_SPANDSP
#include <spandsp.h>

namespace {

enum PeerKind { PEER_V21, PEER_V27TER, PEER_V29, PEER_V17 };

struct Trained {
    bool ok = false;
    static void Put(void* user, int bit)
    {
        if (bit == SIG_STATUS_TRAINING_SUCCEEDED)
            static_cast<Trained*>(user)->ok = true;
    }
};

// Whether an independent receiver of the modulation trains on the burst.
bool PeerTrains(PeerKind kind, int bitRate, const std::vector<int16_t>& x)
{
    Trained t;
    std::vector<int16_t> pcm(x);
    const int n = static_cast<int>(pcm.size());
    if (kind == PEER_V27TER) {
        v27ter_rx_state_t* s = v27ter_rx_init(nullptr, bitRate, Trained::Put, &t);
        v27ter_rx(s, pcm.data(), n);
        v27ter_rx_free(s);
    } else if (kind == PEER_V29) {
        v29_rx_state_t* s = v29_rx_init(nullptr, bitRate, Trained::Put, &t);
        v29_rx(s, pcm.data(), n);
        v29_rx_free(s);
    } else {
        v17_rx_state_t* s = v17_rx_init(nullptr, bitRate, Trained::Put, &t);
        v17_rx(s, pcm.data(), n);
        v17_rx_free(s);
    }
    return t.ok;
}

using debugtest::Burst;
using debugtest::Bursts;
using debugtest::TakeRecording;

TEST(DebugSignalTest, FaxConfigurationsReachTheLine)
{
    const struct {
        const char* code;
        PeerKind peer;
        int bitRate;
    } cases[] = {
        {"40", PEER_V21, 300},    {"41", PEER_V27TER, 2400}, {"42", PEER_V27TER, 4800}, {"44", PEER_V29, 9600},
        {"47", PEER_V17, 9600},   {"4B", PEER_V17, 14400},
    };
    coretest::TempRegistry reg;
    const std::string path = reg.Path() + ".fax.raw";
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
            EXPECT_EQ(modem.Read(2400), "");
            modem.Send("x");
            EXPECT_EQ(modem.Read(800), "");  // the character only ends the test
        }
        EXPECT_EQ(modem.Dialogue("AT*TT4D\r"), "AT*TT4D\r\r\nERROR\r\n");  // past the fax table
        modem.Shutdown();
        LinePortCloseCaptures(modem.Port());
        LineDisconnect(modem.Network(), modem.Network()->connections.front().get());
        LineEndpointDestroy(loop);
    }
    std::string error;
    std::vector<int16_t> x;
    ASSERT_TRUE(TakeRecording(path, &x, &error)) << error;

    const std::vector<Burst> bursts = Bursts(x);
    ASSERT_EQ(bursts.size(), sizeof cases / sizeof cases[0]);
    for (size_t k = 0; k < bursts.size(); ++k) {
        SCOPED_TRACE(cases[k].code);
        const std::vector<int16_t> burst(x.begin() + static_cast<long>(bursts[k].first),
                                         x.begin() + static_cast<long>(bursts[k].last));
        if (cases[k].peer == PEER_V21) {
            // Channel 2's mark and space (1650 and 1850 Hz), nothing of channel 1.
            const std::vector<double> middle(burst.begin() + 800, burst.begin() + 4800);
            const double ch2 = std::max(tonetest::Amplitude(middle, 1650), tonetest::Amplitude(middle, 1850));
            EXPECT_GT(ch2, 10 * tonetest::Amplitude(middle, 1180));
            EXPECT_GT(ch2, 10 * tonetest::Amplitude(middle, 980));
        } else {
            EXPECT_TRUE(PeerTrains(cases[k].peer, cases[k].bitRate, burst));
        }
    }
}

}  // namespace
#endif
