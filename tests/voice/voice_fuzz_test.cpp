// Random voice commands, payloads, played bytes and line samples, interleaved with blocks: no command or
// byte drives the pump out of its buffers (run under the sanitizers), every block is written whole, and the
// queues stay within their bounds.
#include <gtest/gtest.h>

#include <random>

#include "voice/voice_fixture.h"

namespace {

using voicetest::Bytes;
using voicetest::VoiceBench;

TEST(VoiceFuzz, RandomCommandsAndStreams)
{
#if defined(MODEM_UNDER_SANITIZER)
    constexpr int kRounds = 300;
#else
    constexpr int kRounds = 1500;
#endif
    std::mt19937 rng(20261211);
    const uint8_t codes[] = {IcdStartVoice, IcdVoiceMode, IcdSetVoiceParams, IcdSetLineControl, IcdSetLineByte,
                             IcdConfigDetectors, IcdGoIdle};
    VoiceBench v;
    v.StartVoice(0, 0, 0);
    for (int round = 0; round < kRounds; ++round) {
        if (rng() % 4 == 0) {
            Bytes p(rng() % 17);
            for (uint8_t& b : p)
                b = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 12 : rng());
            v.Send(codes[rng() % (sizeof(codes) / sizeof(codes[0]))], p);
        }
        for (int i = 0; i < static_cast<int>(rng() % 80); ++i)
            v.toPlay.push_back(static_cast<uint8_t>(rng()));
        for (int i = 0; i < 96; ++i)
            v.lineIn.push_back(static_cast<int16_t>(rng()));
        v.holdRx = rng() % 5 == 0;
        v.holdReplies = rng() % 7 == 0;
        const size_t before = v.lineOut.size();
        const uint16_t block = v.BlockLength();
        v.Block();
        ASSERT_EQ(v.lineOut.size() - before, block) << round;
        ASSERT_LE(v.context->voice.rxQueue.count, static_cast<uint32_t>(kVoiceRxQueueBytes));
        ASSERT_LE(v.context->voice.txQueue.count, static_cast<uint32_t>(kVoiceTxQueueBytes));
    }
}

}  // namespace
