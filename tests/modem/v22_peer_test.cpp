// The V.22 / V.22bis pump against an independent V.22bis modem (libspandsp, test only) on the 8000 Hz line:
// training in both roles at 1200 and 2400 bit/s, and random data both ways.
#include <gtest/gtest.h>

#include "v22_fixture.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>

namespace {

// The peer's side: asynchronous characters in and out of its bit interface.
struct PeerBits {
    std::deque<int> toSend;
    fsktest::AsyncReceiver receiver;
    bool trained = false;
    bool failed = false;
    bool receiving = false;

    static int GetBit(void* user)
    {
        auto* self = static_cast<PeerBits*>(user);
        if (self->toSend.empty())
            return 1;
        const int bit = self->toSend.front();
        self->toSend.pop_front();
        return bit;
    }
    static void PutBit(void* user, int bit)
    {
        auto* self = static_cast<PeerBits*>(user);
        if (bit < 0) {
            if (bit == SIG_STATUS_TRAINING_SUCCEEDED)
                self->trained = true;
            if (bit == SIG_STATUS_TRAINING_FAILED)
                self->failed = true;
            return;
        }
        if (self->receiving)
            self->receiver.Put(bit & 1);
    }
};

// One direction between a 9600 Hz pump and the 8000 Hz peer, through the line model.
class PeerPath {
public:
    PeerPath(uint32_t rateIn, uint32_t rateOut, size_t blockOut, uint32_t seed, double delayMs = 0.0)
        : blockOut_(blockOut)
    {
        resampler_.ConfigureRates(rateIn, rateOut);
        LineModelParams p;
        p.snrDb = 30.0;
        p.nominalLevelDbm0 = -14.0;
        p.noiseSeed = seed;
        p.bulkDelayMs = delayMs;
        line_.Configure(p);
    }
    std::vector<int16_t> Process(const int16_t* in, size_t n)
    {
        std::vector<int16_t> lined(n);
        std::vector<int16_t> copy(in, in + n);
        line_.Process(copy.data(), lined.data(), n);
        std::vector<double> x(lined.begin(), lined.end());
        resampler_.Push(x.data(), x.size());
        std::vector<double> out(512);
        const size_t k = resampler_.Pull(out.data(), out.size());
        for (size_t i = 0; i < k; ++i)
            pending_.push_back(LineSaturate(out[i]));
        std::vector<int16_t> block(blockOut_, 0);
        if (pending_.size() >= blockOut_) {
            std::copy(pending_.begin(), pending_.begin() + static_cast<long>(blockOut_), block.begin());
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(blockOut_));
        }
        return block;
    }

private:
    size_t blockOut_;
    Resampler resampler_;
    LineDirection line_;
    std::deque<int16_t> pending_;
};

// Our pump and the peer on one line: both ends flowing at the line's rate (the pump's 96 samples of 9600 Hz
// are the peer's 80 of 8000 Hz), each direction delayed by delayMs; the peer runs at `rate`.
struct PeerCall {
    v22test::Pump pump;
    PeerBits peer;
    v22bis_state_t* modem;
    PeerPath toPeer;
    PeerPath toPump;
    std::vector<int16_t> fromPeer = std::vector<int16_t>(96, 0);
    int64_t blocks = 0;

    PeerCall(int32_t mode, int rate, int32_t weOriginate, double delayMs, uint32_t seed)
        : modem(v22bis_init(nullptr, rate, 0, weOriginate ? 0 : 1, PeerBits::GetBit, &peer, PeerBits::PutBit, &peer)),
          toPeer(9600, 8000, 80, seed, delayMs), toPump(8000, 9600, 96, seed + 1, delayMs)
    {
        pump.StartV22Mode(mode, weOriginate);
    }
    ~PeerCall()
    {
        if (modem)
            v22bis_free(modem);
    }
    void Step()
    {
        const std::vector<int16_t> sent = pump.Block(fromPeer.data());
        std::vector<int16_t> atPeer = toPeer.Process(sent.data(), sent.size());
        v22bis_rx(modem, atPeer.data(), static_cast<int>(atPeer.size()));
        int16_t out[80];
        const int n = v22bis_tx(modem, out, 80);
        for (int i = n; i < 80; ++i)
            out[i] = 0;
        fromPeer = toPump.Process(out, 80);
        blocks += 1;
    }
    // Steps until both ends have trained (true) or 1000 blocks have passed.
    bool Train()
    {
        for (int t = 0; t < 1000 && !(pump.Connected() && peer.trained); ++t)
            Step();
        return pump.Connected() && peer.trained;
    }
};

// Trains against the peer and passes kBytes of random data each way; delayMs delays each direction.
void TrainAndCarry(int32_t mode, int rate, int32_t weOriginate, double delayMs, size_t kBytes)
{
    const std::string name = std::to_string(rate) + (weOriginate ? " calling, " : " answering, ") +
                             std::to_string(static_cast<int>(delayMs)) + " ms";
    PeerCall call(mode, rate, weOriginate, delayMs, 3);
    ASSERT_NE(call.modem, nullptr);
    v22test::Pump& pump = call.pump;
    PeerBits& peer = call.peer;
    v22bis_state_t* modem = call.modem;
    auto step = [&]() { call.Step(); };
    call.Train();
    EXPECT_TRUE(pump.Connected()) << name << " status " << int(pump.Status());
    EXPECT_TRUE(peer.trained) << name;
    EXPECT_EQ(v22bis_get_current_bit_rate(modem), rate) << name;
    if (pump.Connected() && peer.trained) {
        for (int i = 0; i < 50; ++i)
            step();
        pump.link.received.clear();
        peer.receiving = true;
        const std::vector<uint8_t> fromUs = fsktest::RandomBytes(kBytes, 21);
        const std::vector<uint8_t> fromThem = fsktest::RandomBytes(kBytes, 22);
        pump.link.toSend.assign(fromUs.begin(), fromUs.end());
        peer.toSend = fsktest::AsyncBits(fromThem, 0, 0);
        const int limit = static_cast<int>(kBytes * 10 * 100 / rate) + 300;
        for (int k = 0; k < limit &&
                        (peer.receiver.bytes.size() < fromUs.size() || pump.link.received.size() < fromThem.size());
             ++k)
            step();
        EXPECT_TRUE(peer.receiver.bytes == fromUs) << name << fsktest::Mismatch(peer.receiver.bytes, fromUs);
        EXPECT_EQ(peer.receiver.framingErrors, 0) << name;
        EXPECT_TRUE(pump.link.received == fromThem) << name << fsktest::Mismatch(pump.link.received, fromThem);
    }
}

TEST(V22Peer, TrainsAndCarriesDataBothWaysInBothRolesAtBothRates)
{
    struct Case {
        int32_t mode;
        int rate;
        int32_t weOriginate;
    };
    const Case cases[] = {{7, 2400, 1}, {7, 2400, 0}, {6, 1200, 1}, {6, 1200, 0}};
#if defined(MODEM_UNDER_SANITIZER)
    constexpr size_t kBytes = 200;
#else
    constexpr size_t kBytes = 2000;
#endif
    for (const Case& c : cases)
        TrainAndCarry(c.mode, c.rate, c.weOriginate, 0.0, kBytes);
}

// A long line: each direction delayed up to 120 ms, both roles, both rates.
TEST(V22Peer, TrainsAndCarriesDataOverADelayedLine)
{
    for (double delayMs : {40.0, 80.0, 120.0}) {
        for (int32_t weOriginate : {1, 0}) {
            TrainAndCarry(7, 2400, weOriginate, delayMs, 300);
            TrainAndCarry(6, 1200, weOriginate, delayMs, 300);
        }
    }
}

// The peer asks for a retrain during data: the pump hears its S1, reports state 3 and answers with its own
// S1 and scrambled ones. An answering peer trains again and both return to data. A calling peer's receiver
// trains again on our sequence and takes our data, but its transmitter never leaves its 1200 bit/s scrambled
// ones after a retrain (two copies of the peer library behave the same against each other), so there our
// pump stays in the retrain state, waiting for the peer's 2400 bit/s ones: only our direction is checked, and
// the rate step's limit then ends the call (state 4) 3 s after our training.
TEST(V22Peer, RetrainRequestedByThePeerReturnsToData)
{
    for (int32_t weOriginate : {0, 1}) {
        PeerCall call(7, 2400, weOriginate, 0.0, 5);
        ASSERT_NE(call.modem, nullptr);
        v22test::Pump& pump = call.pump;
        PeerBits& peer = call.peer;
        v22bis_state_t* modem = call.modem;
        const int64_t& blocks = call.blocks;
        auto step = [&]() { call.Step(); };
        call.Train();
        ASSERT_TRUE(pump.Connected() && peer.trained) << weOriginate;
        for (int i = 0; i < 50; ++i)
            step();
        pump.statusLog.clear();
        peer.trained = false;
        ASSERT_EQ(v22bis_request_retrain(modem, 2400), 0);
        for (int t = 0; t < 300 && !(pump.Connected() && peer.trained && !pump.statusLog.empty()) &&
                        (weOriginate || (pump.Status() & kStatusPumpStateMask) != kPumpStateRetrain);
             ++t)
            step();
        const int64_t retrainSeen = blocks;
        ASSERT_FALSE(pump.statusLog.empty()) << weOriginate;
        bool sawRetrain = false;
        for (uint8_t s : pump.statusLog)
            sawRetrain = sawRetrain || (s & kStatusPumpStateMask) == kPumpStateRetrain;
        EXPECT_TRUE(sawRetrain) << weOriginate;
        if (weOriginate) {
            EXPECT_TRUE(pump.Connected()) << weOriginate;
            EXPECT_TRUE(peer.trained) << weOriginate;
        } else {
            EXPECT_EQ(pump.Status() & kStatusPumpStateMask, kPumpStateRetrain);
        }
        // Our data reaches the peer after the retrain.
        peer.receiving = true;
        const std::vector<uint8_t> fromUs = fsktest::RandomBytes(300, 23);
        pump.link.toSend.assign(fromUs.begin(), fromUs.end());
        for (int k = 0; k < 400 && peer.receiver.bytes.size() < fromUs.size(); ++k)
            step();
        EXPECT_TRUE(peer.receiver.bytes == fromUs) << weOriginate << fsktest::Mismatch(peer.receiver.bytes, fromUs);
        if (!weOriginate) {
            EXPECT_EQ(pump.Status() & kStatusPumpStateMask, kPumpStateRetrain);
            while (blocks - retrainSeen < 500 && (pump.Status() & kStatusPumpStateMask) != kPumpStateGivenUp)
                step();
            // Our S1 (15 blocks) and training (45) after the peer's S1 has gone, then the 300 blocks' limit.
            EXPECT_EQ(pump.Status() & kStatusPumpStateMask, kPumpStateGivenUp);
            EXPECT_NEAR(static_cast<double>(blocks - retrainSeen), 360, 30);
        }
    }
}

}  // namespace

#endif  // HAVE_SPANDSP
