// Two cards on the exchange through their line ports, driven as the data pump drives them: the caller closes
// its loop with the hook control codes, hears dial tone, dials one DTMF digit and two pulse digits by opening
// and closing the loop block by block; the called card sees the ringing as a pulse train, answers by closing
// its loop, hears the caller's tone, and hears busy tone once the caller has hung up, until it hangs up too.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "exchange_fixture.h"
#include "line/exchange_port.h"
#include "support/counted_thread.h"
#include "support/line_fake_pump.h"
#include "support/line_signal.h"

namespace {

using linetest::FakePump;

std::vector<int16_t> Block(double f1, double f2, double amplitude, int* phase)
{
    std::vector<int16_t> x(96);
    for (auto& v : x) {
        const double t = *phase / 9600.0;
        v = static_cast<int16_t>(std::lround(amplitude * (std::sin(2 * M_PI * f1 * t) + (f2 > 0 ? std::sin(2 * M_PI * f2 * t) : 0))));
        ++*phase;
    }
    return x;
}

TEST(ExchangePortTest, CallBetweenTwoCardsDialledByToneAndPulse)
{
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    LinePortConfig ca, cb;
    ca.name = "caller";
    cb.name = "called";
    LinePort* a = LineNetworkAddPort(network, ca);
    LinePort* b = LineNetworkAddPort(network, cb);
    Exchange* ex = ExchangeCreate(country_exchange_signals(linetest::BuiltinCountryBlock("USA")));
    ExchangeBinding* binding = ExchangeBind(ex, network);
    std::string error;
    ASSERT_TRUE(ExchangeBindPort(binding, a, "123", LineConnectionParams(), &error)) << error;
    ASSERT_TRUE(ExchangeBindPort(binding, b, "456", LineConnectionParams(), &error)) << error;
    EXPECT_FALSE(ExchangeBindPort(binding, b, "456", LineConnectionParams(), &error));
    {
        FakePump pa(a);
        FakePump pb(b);
        std::atomic<bool> answered{false}, bDone{false};
        std::vector<double> atB;
        int ringAt = -1, answerAt = -1;
        std::thread other = testsupport::StartCountedThread(clock, "called", [&] {
            linetest::PulseTrainModel ring;
            pb.Run(620, [&](int i) {
                const auto x = pb.Read(96);
                bool ringing = false;
                for (int16_t v : x)
                    ringing = ring.Step(v) || ringing;
                if (ringing && ringAt < 0)
                    ringAt = i;
                if (ringAt >= 0 && i == ringAt + 10) {
                    pb.Control(LOWER_CODE_LOOP_CLOSE, nullptr, nullptr);  // answer
                    answerAt = i;
                    answered = true;
                }
                if (i == 500)
                    pb.Control(LOWER_CODE_LOOP_OPEN, nullptr, nullptr);  // hang up in turn
                if (answered)
                    atB.insert(atB.end(), x.begin(), x.end());
                pb.Write(std::vector<int16_t>(96, 0));
            });
            bDone = true;
        });
        // The caller, one step per block.
        std::vector<double> atA;
        int phase = 0, block = 0, hungUpAt = -1;
        std::vector<std::pair<int, uint32_t>> hook = {{10, LOWER_CODE_LOOP_CLOSE}};
        int t = 80;  // DTMF 4 at blocks 50-55; pulses from block 80: 5 then 6, 6 blocks break, 4 make
        for (int digit : {5, 6}) {
            for (int p = 0; p < digit; ++p) {
                hook.push_back({t, LOWER_CODE_LOOP_OPEN});
                hook.push_back({t + 6, LOWER_CODE_LOOP_CLOSE});
                t += 10;
            }
            t += 70;
        }
        int toneFrom = -1;
        while (!bDone) {
            pa.Run(1, [&](int) {
                const auto x = pa.Read(96);
                if (block < 50)
                    atA.insert(atA.end(), x.begin(), x.end());
                for (const auto& [at, code] : hook)
                    if (at == block)
                        pa.Control(code, nullptr, nullptr);
                if (answered && toneFrom < 0)
                    toneFrom = block + 5;
                std::vector<int16_t> out(96, 0);
                if (block >= 50 && block < 56)
                    out = Block(770, 1209, 6000, &phase);
                if (toneFrom >= 0 && block >= toneFrom && block < toneFrom + 50)
                    out = Block(1000, 0, 8000, &phase);
                if (toneFrom >= 0 && block == toneFrom + 60) {
                    pa.Control(LOWER_CODE_LOOP_OPEN, nullptr, nullptr);  // hang up
                    hungUpAt = block;
                }
                pa.Write(out);
                ++block;
            });
        }
        other.join();
        pa.Stop();
        pb.Stop();

        // Dial tone on seizure (350 + 440 Hz at -13 dBm0), heard at the pump's rate.
        const double dial = std::sqrt(2.0 * LinePowerOfDbm0(-13));
        const auto fit = linetest::FitTone(atA, 9600, 350, 20 * 96, 50 * 96);
        EXPECT_NEAR(fit.amplitude, dial, dial * 0.02);
        // Ringing seen, answered; the caller's tone and then busy tone at the called card.
        ASSERT_GE(ringAt, 0);
        ASSERT_GE(answerAt, 0);
        ASSERT_GE(hungUpAt, 0);
        const size_t toneStart = static_cast<size_t>(toneFrom - answerAt + 10) * 96;
        const auto tone = linetest::FitTone(atB, 9600, 1000, toneStart, toneStart + 30 * 96);
        EXPECT_NEAR(tone.amplitude, 8000, 80);
        EXPECT_LT(tone.residualDb, -40);
        // Busy tone once the open loop has lasted longer than the country's longest hook flash.
        const int clearBlocks = static_cast<int>(ExchangeClearTime(ex->country) / 100000);
        const size_t busyStart = static_cast<size_t>(hungUpAt - answerAt + clearBlocks + 10) * 96;
        ASSERT_LT(busyStart + 40 * 96, atB.size());
        EXPECT_NEAR(linetest::FitTone(atB, 9600, 480, busyStart, busyStart + 40 * 96).frequency, 480, 0.5);
    }
    std::vector<std::string> texts;
    for (const auto& e : ExchangeTakeEvents(ex))
        texts.push_back(std::to_string(e.line) + " " + e.text);
    const std::vector<std::string> expect = {
        "0 off hook",     "0 dial tone",   "0 DTMF digit 4", "0 pulse digit 5", "0 pulse digit 6",
        "0 calling 456",  "1 ringing",     "0 ringback",     "1 answered",      "1 connected",
        "0 connected",    "0 on hook",     "1 busy",         "0 idle",          "1 on hook",
        "1 idle"};
    EXPECT_EQ(texts, expect);
    ExchangeUnbind(binding);
    LineNetworkDestroy(network);
    ExchangeDestroy(ex);
}

}  // namespace
