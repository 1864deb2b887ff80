// The answer tones as an independent connect-tone detector (libspandsp, test only) hears them on the 8000 Hz
// line: plain 2100 Hz, 2100 Hz with phase reversals, and the amplitude-modulated answer tone (which reverses
// too).
#include <gtest/gtest.h>

#include "layer1/dsp/procedure_state.h"
#include "v22_fixture.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>

namespace {

struct Heard {
    std::vector<int> tones;
    static void Report(void* user, int code, int, int)
    {
        if (code > 0)
            static_cast<Heard*>(user)->tones.push_back(code);
    }
};

TEST(AnswerTone, IndependentDetectorRecognisesEachKind)
{
    struct Case {
        const char* name;
        int32_t toneType;   // StartTone type, or 0: the amplitude-modulated tone
        int expected;
    };
    const Case cases[] = {
        {"ANS", 4, MODEM_CONNECT_TONES_ANS},
        {"ANS with reversals", 5, MODEM_CONNECT_TONES_ANS_PR},
        {"ANSam with reversals", 0, MODEM_CONNECT_TONES_ANSAM_PR},
    };
    for (const Case& c : cases) {
        v22test::Pump pump;
        // A -12 dB transmit level (command 0x7B gain word), so the tone sits well inside the detector's range.
        pump.bench.Send(0x7B, {static_cast<uint8_t>(6380 & 0xFF), static_cast<uint8_t>(6380 >> 8), 0, 0});
        LockDsp(pump.ctx->interfaceBlock);
        if (c.toneType != 0)
            StartTone(pump.ctx, c.toneType);
        else
            ControlSequencer(&pump.ctx->seqA, SEQ_START_AT, AnsamSteps, 0);
        UnlockDsp(pump.ctx->interfaceBlock);
        Heard heard;
        modem_connect_tones_rx_state_t* rx =
            modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_ANS_PR, Heard::Report, &heard);
        ASSERT_NE(rx, nullptr);
        Resampler down;
        down.ConfigureRates(9600, 8000);
        for (int t = 0; t < 300; ++t) {
            const std::vector<int16_t> sent = pump.Block(nullptr);
            std::vector<double> x(sent.begin(), sent.end());
            down.Push(x.data(), x.size());
            double out[128];
            const size_t n = down.Pull(out, 128);
            int16_t s[128];
            for (size_t i = 0; i < n; ++i)
                s[i] = LineSaturate(out[i]);
            modem_connect_tones_rx(rx, s, static_cast<int>(n));
        }
        ASSERT_FALSE(heard.tones.empty()) << c.name;
        EXPECT_EQ(heard.tones.back(), c.expected) << c.name;
        modem_connect_tones_rx_free(rx);
    }
}

}  // namespace

#endif  // HAVE_SPANDSP
