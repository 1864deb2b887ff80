// The page receiver's watch for control frames, in the whole data pump (command 0x73 with the receive bit) on
// the 8000 Hz line: an independent V.21 channel 2 HDLC sender's preamble is reported (status bit 0x20, once,
// after a run of flags and well within T.30's second of them) while the receiver claims no carrier; short runs
// of flags between data, noise, and an independent transmitter's training check and page are never reported,
// and the receiver still trains on them.
#include <gtest/gtest.h>

#include <random>

#include "fax_fixture.h"
#include "layer1/modem/fax/fax_flag_watch.h"
#include "layer1/modem/fax/fax_params.h"
#include "layer1/pump_chunks.h"
#include "window/register_map.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using dsptest::BlockRunner;

constexpr uint8_t kReceive = 0x04;
constexpr int kBlocksPerSecond = 100;

// The page receive codes of packet 0x73: V.27ter 4800, V.29 9600, V.17 14400 long training.
struct Receiver {
    const char* name;
    uint8_t code;
    int modulation;
    int bitRate;
};
const Receiver kReceivers[] = {
    {"V.27ter 4800", 0xA5, FAX_V27TER, 4800},
    {"V.29 9600", 0xB7, FAX_V29, 9600},
    {"V.17 14400", 0xE9, FAX_V17, 14400},
};

// What the pump reported, block by block.
struct Watched {
    int flagsAt = -1;    // first block with bit 0x20
    int dataAt = -1;     // first block with the in-data bit
    void Look(BlockRunner& r, int block)
    {
        const uint8_t s = r.bench.Reg(kRegStatus);
        if (flagsAt < 0 && (s & kStatusFaxFlags) != 0)
            flagsAt = block;
        if (dataAt < 0 && (s & 0x10) != 0)
            dataAt = block;
    }
};

// Feeds 8000 Hz samples from `source` (n at a time, 0 when it has none) through the line into the pump for
// the given time, recording the reports.
template <typename Source>
Watched Listen(BlockRunner& r, faxtest::LinePath& line, Source source, double seconds)
{
    Watched w;
    std::vector<int16_t> pending;
    int16_t chunk[80];
    int block = 0;
    while (block < static_cast<int>(seconds * kBlocksPerSecond)) {
        source(chunk, 80);
        const std::vector<int16_t> heard = line.Process(chunk, 80);
        pending.insert(pending.end(), heard.begin(), heard.end());
        while (pending.size() >= 96) {
            r.Block(pending.data());
            pending.erase(pending.begin(), pending.begin() + 96);
            w.Look(r, block++);
        }
    }
    return w;
}

// The flag hunt on decided bits: a run of eight flags, full or sharing their zeros, is heard; a run of seven,
// or flags with data between them, is not.
TEST(FaxFlagWatch, EightFlagsInARunAreHeard)
{
    auto feed = [](FaxFlagWatch* w, const std::string& bits) {
        for (char c : bits)
            FaxFlagWatchBit(w, c == '1');
    };
    const std::string flag = "01111110";
    const std::string shared = "0111111";  // flags sharing their zero: each one 7 bits
    auto times = [](const std::string& s, int n) {
        std::string out;
        for (int k = 0; k < n; ++k)
            out += s;
        return out;
    };
    const struct {
        std::string bits;
        bool heard;
    } cases[] = {
        {times(flag, 8), true},
        {times(flag, 7), false},
        {"1011" + times(flag, 8), true},               // any alignment
        {times(shared, 8) + "0", true},
        {times(flag, 4) + "11010011" + times(flag, 4), false},
        {times(times(flag, 5) + "0010110100110101", 6), false},
        {times("1", 64) + times("0", 64), false},
    };
    for (const auto& c : cases) {
        FaxFlagWatch w;
        FaxFlagWatchInit(&w);
        feed(&w, c.bits);
        EXPECT_EQ(w.heard != 0, c.heard) << c.bits;
    }
}

#ifdef HAVE_SPANDSP

// Bits of the peer's V.21 transmitter from its HDLC sender: a preamble of flags, then one frame (T.30's DIS).
struct PeerFrames {
    hdlc_tx_state_t* hdlc;
    explicit PeerFrames(int flags) : hdlc(hdlc_tx_init(nullptr, 0, 2, 0, nullptr, nullptr))
    {
        static const uint8_t kDis[] = {0xFF, 0x13, 0x80, 0x00, 0xEE, 0xF8, 0x80};
        hdlc_tx_flags(hdlc, flags);
        hdlc_tx_frame(hdlc, kDis, sizeof kDis);
    }
    ~PeerFrames() { hdlc_tx_free(hdlc); }
    static int Get(void* user) { return hdlc_tx_get_bit(static_cast<PeerFrames*>(user)->hdlc); }
};

// Bits of short runs of flags with data between them, as a far end's frames follow each other.
struct ShortRuns {
    std::mt19937 rng{5};
    int at = 0;
    static int Get(void* user)
    {
        ShortRuns* s = static_cast<ShortRuns*>(user);
        const int period = 7 * 8 + 20 * 8;  // seven flags, twenty random octets
        const int k = s->at++ % period;
        if (k < 7 * 8)
            return (0x7E >> (k % 8)) & 1;
        return static_cast<int>(s->rng() & 1u);
    }
};

TEST(FaxFlagWatch, PreambleOfAnIndependentSenderIsReportedByEveryPageReceiver)
{
    for (const Receiver& rc : kReceivers) {
        for (float level : {-13.0f, -40.0f}) {
            BlockRunner r;
            r.bench.Send(0x73, {rc.code, kReceive});
            PeerFrames peer(40);  // about 1.07 s of flags
            fsk_tx_state_t* tx = fsk_tx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], PeerFrames::Get, &peer);
            fsk_tx_power(tx, level);
            faxtest::LinePath line(8000, 9600, 25.0, level, 41);
            const Watched w = Listen(r, line, [&](int16_t* out, int n) { fsk_tx(tx, out, n); }, 1.5);
            fsk_tx_free(tx);
            const std::string what = std::string(rc.name) + " at " + std::to_string(level) + " dBm0";
            // Eight flags take 213 ms; the report comes after them and within 400 ms of the first one.
            EXPECT_GE(w.flagsAt, 20) << what;
            EXPECT_LE(w.flagsAt, 40) << what;
            EXPECT_EQ(w.dataAt, -1) << what << ": the page receiver took the frames' carrier for its own";
        }
    }
}

TEST(FaxFlagWatch, ShortFlagRunsNoiseAndPagesAreNeverReported)
{
    for (const Receiver& rc : kReceivers) {
        {
            BlockRunner r;
            r.bench.Send(0x73, {rc.code, kReceive});
            ShortRuns runs;
            fsk_tx_state_t* tx = fsk_tx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], ShortRuns::Get, &runs);
            faxtest::LinePath line(8000, 9600, 25.0, -13.0, 43);
            const Watched w = Listen(r, line, [&](int16_t* out, int n) { fsk_tx(tx, out, n); }, 3.0);
            fsk_tx_free(tx);
            EXPECT_EQ(w.flagsAt, -1) << rc.name << ": runs of seven flags";
        }
        {
            // The line's noise alone, at the level of a carrier 10 dB above -43 dBm0.
            BlockRunner r;
            r.bench.Send(0x73, {rc.code, kReceive});
            faxtest::LinePath line(8000, 9600, 0.0, -33.0, 47);
            const Watched w = Listen(r, line, [](int16_t* out, int n) { std::fill(out, out + n, int16_t{0}); }, 3.0);
            EXPECT_EQ(w.flagsAt, -1) << rc.name << ": noise";
        }
        {
            // The training check and a page from the peer's transmitter of the same modulation.
            BlockRunner r;
            r.bench.Send(0x73, {rc.code, kReceive});
            std::mt19937 rng(9);
            int zeros = rc.bitRate * 3 / 2;
            auto get = [](void* user) -> int {
                auto* st = static_cast<std::pair<int*, std::mt19937*>*>(user);
                if (*st->first > 0) {
                    --*st->first;
                    return 0;
                }
                return static_cast<int>((*st->second)() & 1u);
            };
            std::pair<int*, std::mt19937*> state{&zeros, &rng};
            const get_bit_func_t getBit = get;
            faxtest::LinePath line(8000, 9600, 25.0, -13.0, 53);
            Watched w;
            if (rc.modulation == FAX_V27TER) {
                v27ter_tx_state_t* tx = v27ter_tx_init(nullptr, rc.bitRate, 0, getBit, &state);
                v27ter_tx_power(tx, -13.0f);
                w = Listen(r, line, [&](int16_t* out, int n) { v27ter_tx(tx, out, n); }, 4.0);
                v27ter_tx_free(tx);
            } else if (rc.modulation == FAX_V29) {
                v29_tx_state_t* tx = v29_tx_init(nullptr, rc.bitRate, 0, getBit, &state);
                v29_tx_power(tx, -13.0f);
                w = Listen(r, line, [&](int16_t* out, int n) { v29_tx(tx, out, n); }, 4.0);
                v29_tx_free(tx);
            } else {
                v17_tx_state_t* tx = v17_tx_init(nullptr, rc.bitRate, 0, getBit, &state);
                v17_tx_power(tx, -13.0f);
                w = Listen(r, line, [&](int16_t* out, int n) { v17_tx(tx, out, n); }, 4.0);
                v17_tx_free(tx);
            }
            EXPECT_GE(w.dataAt, 0) << rc.name << ": the receiver never trained";
            EXPECT_EQ(w.flagsAt, -1) << rc.name << ": training check and page";
        }
    }
}

#endif  // HAVE_SPANDSP

}  // namespace

