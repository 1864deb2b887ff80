// Two modems in voice mode on the simulated exchange: B calls A, A answers with +VLS=1 and records while B
// plays a 1 kHz tone and then the DTMF keys "123#". A's recording carries the keys as DLE '/' DLE digit
// DLE '~' in order, the tone within 3 dB of the level B sent, and it ends with DLE ETX and OK. Then A plays
// to B, answers DLE '?' with the room of its line transmit ring, and ends the play with DLE ETX.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "layer2/at_fixture.h"
#include "layer1/modem/voice/voice_coders.h"
#include "layer2/exchange_modems.h"
#include "line/g711.h"
#include "voice/tone_fit.h"

namespace {

using calltest::ExchangeModems;

constexpr double kPi = 3.14159265358979323846;
constexpr double kToneAmplitude = 8000.0;
const std::string kConnect = "\r\nCONNECT\r\n";

// The DTMF pair of a key (ITU-T Q.23).
void DtmfPair(char key, double* low, double* high)
{
    static const char kKeys[] = "123A456B789C*0#D";
    static const double kLow[] = {697, 770, 852, 941};
    static const double kHigh[] = {1209, 1336, 1477, 1633};
    int k = 0;
    while (kKeys[k] != key)
        ++k;
    *low = kLow[k / 4];
    *high = kHigh[k % 4];
}

// What B plays, as 8000 Hz samples: 200 ms quiet, 1 s of the tone, 200 ms quiet, the keys (100 ms on, 100 ms
// off, each component at 5000), 300 ms quiet.
std::vector<int16_t> Greeting(const std::string& keys)
{
    std::vector<int16_t> x(1600, 0);
    for (int i = 0; i < 8000; ++i)
        x.push_back(static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(2 * kPi * 1000.0 * i / 8000.0))));
    x.insert(x.end(), 1600, 0);
    for (char key : keys) {
        double lo = 0, hi = 0;
        DtmfPair(key, &lo, &hi);
        for (int i = 0; i < 800; ++i)
            x.push_back(static_cast<int16_t>(
                std::lround(5000.0 * (std::sin(2 * kPi * lo * i / 8000.0) + std::sin(2 * kPi * hi * i / 8000.0)))));
        x.insert(x.end(), 800, 0);
    }
    x.insert(x.end(), 2400, 0);
    return x;
}

// The application's bytes for the samples in the default codec (A-law), DLE shielded.
std::string Shielded(const std::vector<int16_t>& x)
{
    std::string out;
    for (int16_t s : x) {
        const char c = static_cast<char>(LinearToAlaw(s));
        out.push_back(c);
        if (c == '\x10')
            out.push_back(c);
    }
    return out;
}

// A recording split into its samples and its DLE codes.
struct Recording {
    std::vector<int16_t> samples;
    std::string codes;   // the character after each DLE other than DLE DLE
    std::string dtmf;    // the digits of DLE '/' DLE d DLE '~'
};

Recording Split(const std::string& stream)
{
    Recording r;
    for (size_t i = 0; i < stream.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(stream[i]);
        if (c != 0x10) {
            r.samples.push_back(AlawToLinear(c));
            continue;
        }
        if (++i == stream.size())
            break;
        const uint8_t code = static_cast<uint8_t>(stream[i]);
        if (code == 0x10) {
            r.samples.push_back(AlawToLinear(code));
            continue;
        }
        r.codes.push_back(static_cast<char>(code));
        if (code == '/' && i + 4 < stream.size() && stream[i + 1] == '\x10' && stream[i + 3] == '\x10' &&
            stream[i + 4] == '~') {
            r.dtmf.push_back(stream[i + 2]);
            i += 4;
        }
    }
    return r;
}

class VoiceExchange : public ::testing::Test {
protected:
    // The answer to a command line on one modem within ms (echo included).
    bool Command(dsptest::RealPumpModem& m, std::string* out, const std::string& line, const std::string& answer,
                 int ms = 2000)
    {
        const size_t from = out->size();
        ex_.Type(m, line + "\r");
        return ex_.RunUntil(
            [&] {
                Refresh();
                return out->find(answer, from) != std::string::npos;
            },
            ms);
    }
    void Refresh()
    {
        a_ += ex_.TakeA();
        b_ += ex_.TakeB();
    }
    // Puts a voice call up: A in voice mode waits, B dials A and stays off hook, A answers with +VLS=1, and B
    // takes its voice path too.
    void Call()
    {
        ASSERT_TRUE(Command(ex_.A(), &a_, "AT+FCLASS=8", "\r\n")) << attest::Visible(a_);
        if (a_.find("ERROR") != std::string::npos)
            GTEST_SKIP() << "the modem has no +FCLASS command yet, so voice mode cannot be selected";
        ASSERT_NE(a_.find("OK"), std::string::npos) << attest::Visible(a_);
        ASSERT_TRUE(Command(ex_.B(), &b_, "ATDT201;", "OK", 15000)) << attest::Visible(b_);
        ASSERT_TRUE(ex_.RunUntil(
            [&] {
                Refresh();
                return a_.find("RING") != std::string::npos;
            },
            15000))
            << attest::Visible(a_);
        ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VLS=1", "OK")) << attest::Visible(a_);
        ASSERT_TRUE(Command(ex_.B(), &b_, "AT+FCLASS=8", "OK")) << attest::Visible(b_);
        ASSERT_TRUE(Command(ex_.B(), &b_, "AT+VLS=1", "OK")) << attest::Visible(b_);
        ex_.Run(300);
        Refresh();
    }
    // Plays bytes on a modem in transfer, as fast as it takes them.
    void Feed(dsptest::RealPumpModem& m, const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            at += m.SendSome(reinterpret_cast<const uint8_t*>(bytes.data()) + at, bytes.size() - at, 20);
            ex_.Run(0);
            Refresh();
        }
    }

    ExchangeModems ex_;
    std::string a_;
    std::string b_;
};

TEST_F(VoiceExchange, RecordingCarriesTheCallersToneAndKeysInOrder)
{
    Call();
    if (HasFatalFailure() || IsSkipped())
        return;
    const size_t recordFrom = a_.size();
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VRX", kConnect)) << attest::Visible(a_);
    ASSERT_TRUE(Command(ex_.B(), &b_, "AT+VTX", kConnect)) << attest::Visible(b_);
    const std::vector<int16_t> sent = Greeting("123#");
    Feed(ex_.B(), Shielded(sent) + "\x10\x03");
    ASSERT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return b_.rfind("\r\nOK\r\n") > b_.rfind(kConnect);
        },
        5000))
        << attest::Visible(b_);
    ex_.Run(300);
    Refresh();
    const std::string end = "\x10\x03\r\nOK\r\n";
    ex_.A().Send("\x10\x1B");
    ASSERT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.size() >= end.size() && a_.compare(a_.size() - end.size(), end.size(), end) == 0;
        },
        3000));
    const size_t start = a_.find(kConnect, recordFrom) + kConnect.size();
    const Recording r = Split(a_.substr(start, a_.size() - end.size() - start));
    EXPECT_EQ(r.dtmf, "123#") << attest::Visible(r.codes);
    // The tone: the loudest second of the recording, fitted at 1 kHz.
    size_t onset = 0;
    while (onset < r.samples.size() && std::abs(r.samples[onset]) < 2000)
        ++onset;
    ASSERT_LT(onset + 7000, r.samples.size());
    const std::vector<int16_t> tone(r.samples.begin() + static_cast<long>(onset) + 400,
                                    r.samples.begin() + static_cast<long>(onset) + 7000);
    const double db = 20.0 * std::log10(voicetest::ToneAmplitude(tone, 1000.0, 8000.0) / kToneAmplitude);
    EXPECT_NEAR(db, 0.0, 3.0);
}

TEST_F(VoiceExchange, PlayAnswersTheRoomQueryAndEndsWithOk)
{
    Call();
    if (HasFatalFailure() || IsSkipped())
        return;
    const size_t playFrom = a_.size();
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VTX", kConnect)) << attest::Visible(a_);
    std::vector<int16_t> x(4000, 0);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<int16_t>(std::lround(6000 * std::sin(2 * kPi * 440.0 * static_cast<double>(i) / 8000.0)));
    Feed(ex_.A(), Shielded(x) + "\x10?");
    ASSERT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.find("\x10.", playFrom) != std::string::npos;
        },
        2000))
        << attest::Visible(a_.substr(playFrom));
    // DLE "XASTB=" and the free room of the 1024-byte line transmit ring, DLE '.'.
    const size_t q = a_.find("\x10XASTB=", playFrom);
    ASSERT_NE(q, std::string::npos) << attest::Visible(a_.substr(playFrom));
    const size_t dot = a_.find("\x10.", q);
    const std::string room = a_.substr(q + 7, dot - q - 7);
    ASSERT_FALSE(room.empty());
    EXPECT_EQ(room.find_first_not_of("0123456789"), std::string::npos) << room;
    EXPECT_LE(std::stoi(room), 1024);
    EXPECT_NE(room[0], '0');
    Feed(ex_.A(), "\x10\x03");
    EXPECT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.find("\r\nOK\r\n", dot) != std::string::npos;
        },
        2000))
        << attest::Visible(a_.substr(playFrom));
}

// A caller that hangs up during the recording leaves busy tone on the line: DLE 'b' in the stream.
TEST_F(VoiceExchange, CallerHangingUpIsReportedAsBusyWhileRecording)
{
    Call();
    if (HasFatalFailure() || IsSkipped())
        return;
    const size_t recordFrom = a_.size();
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VRX", kConnect)) << attest::Visible(a_);
    ex_.Run(500);
    ASSERT_TRUE(Command(ex_.B(), &b_, "AT+VLS=0", "OK")) << attest::Visible(b_);
    const size_t start = a_.find(kConnect, recordFrom) + kConnect.size();
    ASSERT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return Split(a_.substr(start)).codes.find('b') != std::string::npos;
        },
        8000))
        << attest::Visible(Split(a_.substr(start)).codes);
    ex_.A().Send("\x10!");
    EXPECT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.find("\x10\x03\r\nOK\r\n", start) != std::string::npos;
        },
        2000));
}

// Keys that arrive while no transfer runs are printed as they come, in the same DLE form.
TEST_F(VoiceExchange, KeysInCommandStateArePrinted)
{
    Call();
    if (HasFatalFailure() || IsSkipped())
        return;
    const size_t from = a_.size();
    ASSERT_TRUE(Command(ex_.B(), &b_, "AT+VTX", kConnect)) << attest::Visible(b_);
    std::vector<int16_t> keys = Greeting("59");
    keys.erase(keys.begin(), keys.begin() + 1600 + 8000);  // the keys only
    Feed(ex_.B(), Shielded(keys) + "\x10\x03");
    ASSERT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.find("\x10/\x10" "9\x10~", from) != std::string::npos;
        },
        3000))
        << attest::Visible(a_.substr(from));
    EXPECT_EQ(attest::Visible(a_.substr(from)), attest::Visible("\x10/\x10" "5\x10~\x10/\x10" "9\x10~"));
}

// Rings reach the application in voice mode while the hang-up bit of the event mask is set, not without it.
TEST_F(VoiceExchange, RingsFollowTheEventMask)
{
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+FCLASS=8", "\r\n")) << attest::Visible(a_);
    if (a_.find("ERROR") != std::string::npos)
        GTEST_SKIP() << "the modem has no +FCLASS command yet, so voice mode cannot be selected";
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VEM=0B803860", "OK")) << attest::Visible(a_);
    const size_t from = a_.size();
    ASSERT_TRUE(Command(ex_.B(), &b_, "ATDT201;", "OK", 15000)) << attest::Visible(b_);
    ex_.Run(8000);
    Refresh();
    EXPECT_EQ(a_.find("RING", from), std::string::npos) << attest::Visible(a_.substr(from));
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VEM=9B803860", "OK")) << attest::Visible(a_);
    EXPECT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.find("RING", from) != std::string::npos;
        },
        8000))
        << attest::Visible(a_.substr(from));
}

// Automatic answer in voice mode (S0 set before the class switch): the line is taken for the voice engine,
// so a transfer can start at once.
TEST_F(VoiceExchange, AutomaticAnswerTakesTheLineForTransfers)
{
    ASSERT_TRUE(Command(ex_.A(), &a_, "ATS0=1", "OK")) << attest::Visible(a_);
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+FCLASS=8", "\r\n")) << attest::Visible(a_);
    if (a_.find("ERROR") != std::string::npos)
        GTEST_SKIP() << "the modem has no +FCLASS command yet, so voice mode cannot be selected";
    const size_t from = a_.size();
    ASSERT_TRUE(Command(ex_.B(), &b_, "ATDT201;", "OK", 15000)) << attest::Visible(b_);
    ASSERT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            const size_t ring = a_.find("RING", from);
            return ring != std::string::npos && a_.find("\r\nOK\r\n", ring) != std::string::npos;
        },
        15000))
        << attest::Visible(a_.substr(from));
    EXPECT_TRUE(ex_.RunUntil([&] { return ex_.State(calltest::kLineA) == EXL_CONNECTED; }, 1000))
        << ExchangeLineStateName(ex_.State(calltest::kLineA));
    ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VTX", kConnect)) << attest::Visible(a_.substr(from));
    Feed(ex_.A(), "\x10\x03");
    EXPECT_TRUE(ex_.RunUntil(
        [&] {
            Refresh();
            return a_.rfind("\r\nOK\r\n") > a_.rfind(kConnect);
        },
        2000));
}

// Every compression method both ways through the engine and the data pump: the application's bytes in the
// method's packing (4-bit ADPCM two codes a byte, the first in the low nibble; 3-bit ADPCM as a bit stream,
// least significant bit first; 16-bit little-endian; 8-bit offset binary; CL1 as A-law) carry a 1 kHz tone
// to the other modem (A-law) and back at its level.
struct Method {
    const char* vsm;
    int format;  // the data pump's coding of the samples
    int packing; // 0 bytes, 1 nibbles, 2 3-bit stream, 3 16-bit
    double tolerance_db;
};

std::string Pack(const Method& m, const std::vector<int16_t>& x)
{
    const VoiceCoder coder = SelectVoiceCodec(m.format);
    AdpcmCoderState st;
    ResetCoderState(&st);
    std::string raw;
    uint32_t bits = 0;
    int nbits = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (m.packing == 3) {
            raw.push_back(static_cast<char>(x[i] & 0xFF));
            raw.push_back(static_cast<char>((x[i] >> 8) & 0xFF));
            continue;
        }
        const uint16_t code = coder.encode(&st, x[i]);
        if (m.packing == 0) {
            raw.push_back(static_cast<char>(code));
            continue;
        }
        bits |= static_cast<uint32_t>(code) << nbits;
        nbits += m.packing == 1 ? 4 : 3;
        while (nbits >= 8) {
            raw.push_back(static_cast<char>(bits & 0xFF));
            bits >>= 8;
            nbits -= 8;
        }
    }
    std::string out;
    for (char c : raw) {
        out.push_back(c);
        if (c == '\x10')
            out.push_back(c);
    }
    return out;
}

std::vector<int16_t> Unpack(const Method& m, const std::string& stream)
{
    std::string raw;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] == '\x10') {
            if (++i < stream.size() && stream[i] == '\x10')
                raw.push_back('\x10');
            continue;
        }
        raw.push_back(stream[i]);
    }
    const VoiceCoder coder = SelectVoiceCodec(m.format);
    AdpcmCoderState st;
    ResetCoderState(&st);
    std::vector<int16_t> x;
    uint32_t bits = 0;
    int nbits = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(raw[i]);
        if (m.packing == 3) {
            if (i + 1 < raw.size())
                x.push_back(static_cast<int16_t>(b | (static_cast<uint8_t>(raw[++i]) << 8)));
            continue;
        }
        if (m.packing == 0) {
            x.push_back(coder.decode(&st, b));
            continue;
        }
        bits |= static_cast<uint32_t>(b) << nbits;
        nbits += 8;
        const int width = m.packing == 1 ? 4 : 3;
        while (nbits >= width) {
            x.push_back(coder.decode(&st, static_cast<uint16_t>(bits & ((1u << width) - 1))));
            bits >>= width;
            nbits -= width;
        }
    }
    return x;
}

TEST_F(VoiceExchange, EveryCompressionMethodCarriesTheToneBothWays)
{
    Call();
    if (HasFatalFailure() || IsSkipped())
        return;
    // In this order each transfer follows one in another coding: nothing of the last may reach the next (an
    // ADPCM decoder fed one stale chunk stays out of step).
    const Method methods[] = {
        {"140", 0, 0, 0.5}, {"128", 2, 0, 0.5}, {"129", 2, 3, 0.5}, {"132", 6, 1, 1.5}, {"141", 5, 2, 3.0},
    };
    std::vector<int16_t> tone;
    for (int i = 0; i < 6400; ++i)
        tone.push_back(static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(2 * kPi * 1000.0 * i / 8000.0))));
    const Method alaw = methods[0];
    for (const Method& m : methods) {
        SCOPED_TRACE(m.vsm);
        ASSERT_TRUE(Command(ex_.A(), &a_, std::string("AT+VSM=") + m.vsm + ",8000", "OK")) << attest::Visible(a_);
        // B plays (A-law), A records in the method.
        size_t from = a_.size();
        ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VRX", kConnect));
        ASSERT_TRUE(Command(ex_.B(), &b_, "AT+VTX", kConnect));
        Feed(ex_.B(), Pack(alaw, tone) + "\x10\x03");
        ASSERT_TRUE(ex_.RunUntil([&] { Refresh(); return b_.rfind("\r\nOK\r\n") > b_.rfind(kConnect); }, 3000));
        ex_.A().Send("\x10!");
        const std::string end = "\x10\x03\r\nOK\r\n";
        ASSERT_TRUE(ex_.RunUntil([&] { Refresh(); return a_.find(end, from) != std::string::npos; }, 3000));
        const size_t start = a_.find(kConnect, from) + kConnect.size();
        std::vector<int16_t> heard = Unpack(m, a_.substr(start, a_.find(end, from) - start));
        EXPECT_NEAR(20.0 * std::log10(voicetest::ToneAmplitude(heard, 1000.0, 8000.0) / kToneAmplitude), 0.0,
                    m.tolerance_db)
            << "recorded";
        // A plays in the method, B records (A-law).
        from = b_.size();
        ASSERT_TRUE(Command(ex_.B(), &b_, "AT+VRX", kConnect));
        ASSERT_TRUE(Command(ex_.A(), &a_, "AT+VTX", kConnect));
        Feed(ex_.A(), Pack(m, tone) + "\x10\x03");
        ASSERT_TRUE(ex_.RunUntil([&] { Refresh(); return a_.rfind("\r\nOK\r\n") > a_.rfind(kConnect); }, 3000));
        ex_.B().Send("\x10!");
        ASSERT_TRUE(ex_.RunUntil([&] { Refresh(); return b_.find(end, from) != std::string::npos; }, 3000));
        const size_t bstart = b_.find(kConnect, from) + kConnect.size();
        heard = Unpack(alaw, b_.substr(bstart, b_.find(end, from) - bstart));
        EXPECT_NEAR(20.0 * std::log10(voicetest::ToneAmplitude(heard, 1000.0, 8000.0) / kToneAmplitude), 0.0,
                    m.tolerance_db)
            << "played";
    }
}

}  // namespace
