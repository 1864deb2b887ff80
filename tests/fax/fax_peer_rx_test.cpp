// An independent receiver (the peer library's V.27ter, V.29 and V.17) decodes our transmitter through the
// 8000 Hz line at 25 dB SNR with a 10 Hz carrier offset either way: the TCF (zeros) and a page of random bits.
#include <gtest/gtest.h>

#include <algorithm>

#include <deque>

#include "fax_fixture.h"
#include "layer1/modem/fax/fax_tx.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>

namespace {

struct Source {
    std::vector<uint8_t> bits;
    size_t next = 0;
    static int32_t Get(void* owner, int32_t n)
    {
        Source* s = static_cast<Source*>(owner);
        if (s->next >= s->bits.size())
            return -1;
        int32_t v = 0;
        for (int32_t k = 0; k < n; ++k) {
            const uint8_t b = s->next < s->bits.size() ? s->bits[s->next] : 1;
            s->next += 1;
            v |= b << k;
        }
        return v;
    }
    static int32_t Released(void*) { return 1; }
};

struct Sink {
    std::vector<uint8_t> bits;
    bool trained = false;
    int carrierDowns = 0;
    static void Put(void* user, int bit)
    {
        Sink* s = static_cast<Sink*>(user);
        if (bit < 0) {
            if (bit == SIG_STATUS_TRAINING_SUCCEEDED)
                s->trained = true;
            if (bit == SIG_STATUS_CARRIER_DOWN)
                s->carrierDowns += 1;
            return;
        }
        s->bits.push_back(static_cast<uint8_t>(bit & 1));
    }
};

struct Case {
    const char* name;
    int32_t modulationNibble;
    int32_t rateNibble;
    int bitRate;
    double offsetHz;
};

// Peer receiver of one modulation.
struct PeerRx {
    int modulation;
    void* state = nullptr;
    PeerRx(int32_t mod, int bitRate, Sink* sink) : modulation(mod)
    {
        if (mod == FAX_V27TER)
            state = v27ter_rx_init(nullptr, bitRate, Sink::Put, sink);
        else if (mod == FAX_V29)
            state = v29_rx_init(nullptr, bitRate, Sink::Put, sink);
        else
            state = v17_rx_init(nullptr, bitRate, Sink::Put, sink);
        // The silences around the echo-protection tone must read as silence on a 25 dB line: the peer's
        // carrier detection cuts in 8 dB above the noise.
        Cutoff(-30.0f);
    }
    void Cutoff(float dbm0)
    {
        if (modulation == FAX_V27TER)
            v27ter_rx_signal_cutoff(static_cast<v27ter_rx_state_t*>(state), dbm0);
        else if (modulation == FAX_V29)
            v29_rx_signal_cutoff(static_cast<v29_rx_state_t*>(state), dbm0);
        else
            v17_rx_signal_cutoff(static_cast<v17_rx_state_t*>(state), dbm0);
    }
    void Restart(int bitRate, int shortTrain)
    {
        if (modulation == FAX_V17)
            v17_rx_restart(static_cast<v17_rx_state_t*>(state), bitRate, shortTrain);
        else if (modulation == FAX_V29)
            v29_rx_restart(static_cast<v29_rx_state_t*>(state), bitRate, 0);
        else
            v27ter_rx_restart(static_cast<v27ter_rx_state_t*>(state), bitRate, 0);
    }
    void Rx(std::vector<int16_t>& x)
    {
        if (modulation == FAX_V27TER)
            v27ter_rx(static_cast<v27ter_rx_state_t*>(state), x.data(), static_cast<int>(x.size()));
        else if (modulation == FAX_V29)
            v29_rx(static_cast<v29_rx_state_t*>(state), x.data(), static_cast<int>(x.size()));
        else
            v17_rx(static_cast<v17_rx_state_t*>(state), x.data(), static_cast<int>(x.size()));
    }
    ~PeerRx()
    {
        if (modulation == FAX_V27TER)
            v27ter_rx_free(static_cast<v27ter_rx_state_t*>(state));
        else if (modulation == FAX_V29)
            v29_rx_free(static_cast<v29_rx_state_t*>(state));
        else
            v17_rx_free(static_cast<v17_rx_state_t*>(state));
    }
};

constexpr double kLevel = -13.0;

// Sends one training and data burst; the peer must decode the data error-free.
void SendBurst(FaxTxState* tx, PeerRx& peer, faxtest::LinePath& line, Sink& sink, const std::vector<uint8_t>& data,
               const std::string& what)
{
    Source source{data, 0};
    tx->port.owner = &source;
    FaxTxRestart(tx);
    sink.bits.clear();
    std::vector<int16_t> block(kFaxBlockSamples);
    int idle = 0;
    for (int guard = 0; guard < 100000 && idle < 30; ++guard) {
        FaxTxBlock(tx, block.data(), kFaxBlockSamples);
        std::vector<int16_t> heard = line.Process(block.data(), block.size());
        peer.Rx(heard);
        if (source.next >= data.size() && tx->inner.position == 1)
            idle += 1;
    }
    std::string why;
    if (std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; })) {
        EXPECT_TRUE(faxtest::HasZeroRun(sink.bits, data.size(), &why)) << what << ": " << why;
        return;
    }
    EXPECT_EQ(faxtest::BitErrors(sink.bits, data, &why), 0u) << what << ": " << why;
}

TEST(FaxPeerReceiver, DecodesOurTrainingTcfAndPage)
{
    const Case cases[] = {
        {"V.27ter 2400", 0xA, 4, 2400, 10},  {"V.27ter 4800", 0xA, 5, 4800, -10}, {"V.29 4800", 0xB, 5, 4800, 10},
        {"V.29 7200", 0xB, 6, 7200, -10},    {"V.29 9600", 0xB, 7, 9600, 10},     {"V.17 7200", 0xE, 6, 7200, -10},
        {"V.17 9600", 0xE, 7, 9600, 10},     {"V.17 12000", 0xE, 8, 12000, -10},  {"V.17 14400", 0xE, 9, 14400, 10},
    };
    for (const Case& c : cases) {
        const int32_t code = FaxCodeOf(c.modulationNibble, c.rateNibble);
        FaxTxState tx;
        FaxTxInit(&tx, code, FaxTxPort{nullptr, Source::Get, Source::Released, nullptr}, FaxTxGainOf(kLevel), nullptr);
        Sink sink;
        PeerRx peer(FaxModulationOf(code), c.bitRate, &sink);
        faxtest::LinePath line(9600, 8000, 25.0, kLevel, 7, c.offsetHz);
        const std::vector<uint8_t> tcf(static_cast<size_t>(1.5 * c.bitRate), 0);
        SendBurst(&tx, peer, line, sink, tcf, std::string(c.name) + " TCF");
        peer.Restart(c.bitRate, 0);
        const std::vector<uint8_t> page = faxtest::RandomBits(static_cast<size_t>(faxtest::kPageSeconds * c.bitRate), 3);
        SendBurst(&tx, peer, line, sink, page, std::string(c.name) + " page");
    }
}

}  // namespace

#endif  // HAVE_SPANDSP
