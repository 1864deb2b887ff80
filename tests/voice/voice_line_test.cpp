// Voice between two whole pumps (line driver, data pump, block threads) on the simulated 8000 Hz line in
// virtual time: the sample stream switches to each voice rate, one pump plays a 1 kHz tone from the
// controller's A-law bytes and the other records it at the same level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "layer1/modem/voice/voice_coders.h"
#include "support/pump_harness.h"
#include "window/register_map.h"
#include "window/window_access.h"
#include "voice/tone_fit.h"

namespace {

using voicetest::ToneAmplitude;

using pumptest::PumpModem;
using pumptest::RunFor;

constexpr double kPi = 3.14159265358979323846;

// The controller's side of one pump's data mailboxes, run in the pump's callbacks.
struct ControllerSide {
    std::mutex lock;
    std::deque<uint8_t> toPlay;
    std::vector<uint8_t> recorded;
};

std::mutex gSidesLock;
std::map<DspInterfaceBlock*, ControllerSide*> gSides;

void Serve(DspInterfaceBlock* b)
{
    ControllerSide* side = nullptr;
    {
        std::lock_guard<std::mutex> g(gSidesLock);
        auto it = gSides.find(b);
        if (it == gSides.end())
            return;
        side = it->second;
    }
    std::lock_guard<std::mutex> g(side->lock);
    WindowStore(b, kRegReplyCode, 0);
    const uint16_t rx = WindowLoadPair(b, kRegRxCount);
    if (rx != 0) {
        for (int i = 0; i < (rx & 0xFF); ++i)
            side->recorded.push_back(WindowLoad(b, kRegRxData + i));
        WindowStorePair(b, kRegRxCount, 0);
    }
    if (!side->toPlay.empty() && WindowLoadPair(b, kRegTxCount) == 0) {
        const size_t n = std::min<size_t>(kMailboxBytes, side->toPlay.size());
        for (size_t i = 0; i < n; ++i) {
            WindowStore(b, kRegTxData + static_cast<int>(i), side->toPlay.front());
            side->toPlay.pop_front();
        }
        WindowStorePair(b, kRegTxCount, static_cast<uint16_t>(n));
    }
}

TEST(VoiceLine, TwoPumpsOnTheSimulatedLine)
{
    struct Case {
        uint8_t rate;
        double playRate;
        double recordRate;
    };
    const Case cases[] = {{0, 4800, 4800}, {2, 8000, 8000}, {4, 11000, 9600.0 * 8 / 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.rate));
        platform::Clock clock;
        platform::ClockThread self(clock);
        LineNetwork* network = LineNetworkCreate();
        {
            pumptest::ModemOptions oa, ob;
            oa.name = "player";
            ob.name = "recorder";
            PumpModem player(clock, network, oa);
            PumpModem recorder(clock, network, ob);
            LineConnectionParams params;
            params.aToB.snrDb = 50;
            params.bToA.snrDb = 50;
            LineConnect(network, &player.Port()->endpoint, &recorder.Port()->endpoint, params);
            ASSERT_EQ(player.Start(), STATUS_SUCCESS);
            ASSERT_EQ(recorder.Start(), STATUS_SUCCESS);
            ControllerSide play;
            ControllerSide record;
            const VoiceCoder coder = SelectVoiceCodec(0);
            AdpcmCoderState state;
            ResetCoderState(&state);
            for (int i = 0; i < static_cast<int>(c.playRate) * 3; ++i)
                play.toPlay.push_back(static_cast<uint8_t>(
                    coder.encode(&state, static_cast<int16_t>(std::lround(9000.0 * std::sin(2 * kPi * 1000.0 * i / c.playRate))))));
            {
                std::lock_guard<std::mutex> g(gSidesLock);
                gSides[player.Context()->interfaceBlock] = &play;
                gSides[recorder.Context()->interfaceBlock] = &record;
            }
            for (PumpModem* m : {&player, &recorder}) {
                m->Forward(Serve);
                m->SetRegister(kRegHostControl, kNotifyEnable);
                m->SendCommand(0x65, {2, 0});
            }
            recorder.SendCommand(0x97, {c.rate, 0, 3, 0});
            player.SendCommand(0x97, {c.rate, 0, 0, 0});
            RunFor(2000);
            EXPECT_EQ(player.Register(kRegStatus) & kStatusPumpStateMask, 12);
            std::vector<int16_t> heard;
            {
                std::lock_guard<std::mutex> g(record.lock);
                for (uint8_t byte : record.recorded)
                    heard.push_back(coder.decode(&state, byte));
            }
            EXPECT_GT(heard.size(), static_cast<size_t>(c.recordRate * 1.9));
            EXPECT_NEAR(20.0 * std::log10(ToneAmplitude(heard, 1000.0, c.recordRate) / 9000.0), 0.0, 0.5);
            const LinePortStats s = LinePortGetStats(recorder.Port());
            EXPECT_EQ(s.rxUnderruns, 0u);
            ASSERT_EQ(player.Remove(), STATUS_SUCCESS);
            ASSERT_EQ(recorder.Remove(), STATUS_SUCCESS);
            std::lock_guard<std::mutex> g(gSidesLock);
            gSides.clear();
        }
        LineNetworkDestroy(network);
    }
}

}  // namespace
