// Our receiver decodes an independent transmitter (the peer library's V.27ter, V.29 and V.17) through the
// 8000 Hz line at 25 dB SNR with a 10 Hz carrier offset either way: the TCF (zeros) and a page of random bits,
// long training and, for V.17, short training after it.
#include <gtest/gtest.h>

#include <algorithm>

#include "fax_fixture.h"
#include "layer1/modem/fax/fax_rx.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>

namespace {

struct Collected {
    std::vector<uint8_t> bits;
    int dataStarts = 0;
    int dataEnds = 0;
    bool inData = false;
    static void Put(void* owner, uint32_t bits, int32_t n)
    {
        Collected* c = static_cast<Collected*>(owner);
        for (int32_t k = 0; k < n; ++k)
            c->bits.push_back(static_cast<uint8_t>((bits >> k) & 1));
    }
    static void Status(void* owner, uint8_t value, int set)
    {
        Collected* c = static_cast<Collected*>(owner);
        if (value == 0x10 && (set != 0) != c->inData) {
            c->inData = set != 0;
            (set ? c->dataStarts : c->dataEnds) += 1;
        }
    }
};

struct PeerSource {
    const std::vector<uint8_t>* bits = nullptr;
    size_t next = 0;
    int tail = 0;
    static int Get(void* user)
    {
        PeerSource* s = static_cast<PeerSource*>(user);
        if (s->next < s->bits->size())
            return (*s->bits)[s->next++];
        if (s->tail-- > 0)
            return 1;
        return SIG_STATUS_END_OF_DATA;
    }
};

struct PeerTx {
    int modulation;
    void* state = nullptr;
    PeerSource source;
    PeerTx(int32_t mod, int bitRate) : modulation(mod)
    {
        if (mod == FAX_V27TER) {
            state = v27ter_tx_init(nullptr, bitRate, 0, PeerSource::Get, &source);
            v27ter_tx_power(static_cast<v27ter_tx_state_t*>(state), -13.0f);
        } else if (mod == FAX_V29) {
            state = v29_tx_init(nullptr, bitRate, 0, PeerSource::Get, &source);
            v29_tx_power(static_cast<v29_tx_state_t*>(state), -13.0f);
        } else {
            state = v17_tx_init(nullptr, bitRate, 0, PeerSource::Get, &source);
            v17_tx_power(static_cast<v17_tx_state_t*>(state), -13.0f);
        }
    }
    void Restart(int bitRate, int shortTrain)
    {
        if (modulation == FAX_V27TER)
            v27ter_tx_restart(static_cast<v27ter_tx_state_t*>(state), bitRate, 0);
        else if (modulation == FAX_V29)
            v29_tx_restart(static_cast<v29_tx_state_t*>(state), bitRate, 0);
        else
            v17_tx_restart(static_cast<v17_tx_state_t*>(state), bitRate, 0, shortTrain);
    }
    int Tx(int16_t* out, int n)
    {
        if (modulation == FAX_V27TER)
            return v27ter_tx(static_cast<v27ter_tx_state_t*>(state), out, n);
        if (modulation == FAX_V29)
            return v29_tx(static_cast<v29_tx_state_t*>(state), out, n);
        return v17_tx(static_cast<v17_tx_state_t*>(state), out, n);
    }
    ~PeerTx()
    {
        if (modulation == FAX_V27TER)
            v27ter_tx_free(static_cast<v27ter_tx_state_t*>(state));
        else if (modulation == FAX_V29)
            v29_tx_free(static_cast<v29_tx_state_t*>(state));
        else
            v17_tx_free(static_cast<v17_tx_state_t*>(state));
    }
};

struct Case {
    const char* name;
    int32_t modulationNibble;
    int32_t rateNibble;
    int bitRate;
    double offsetHz;
};

const Case kCases[] = {
    {"V.27ter 2400", 0xA, 4, 2400, 10},  {"V.27ter 4800", 0xA, 5, 4800, -10}, {"V.29 4800", 0xB, 5, 4800, 10},
    {"V.29 7200", 0xB, 6, 7200, -10},    {"V.29 9600", 0xB, 7, 9600, 10},     {"V.17 7200", 0xE, 6, 7200, -10},
    {"V.17 9600", 0xE, 7, 9600, 10},     {"V.17 12000", 0xE, 8, 12000, -10},  {"V.17 14400", 0xE, 9, 14400, 10},
};

// One burst from the peer (training, data, `tail` ones, the peer's own closing, then silence) into our
// receiver.
void Burst(PeerTx& peer, FaxRxState* rx, faxtest::LinePath& line, Collected& got, const std::vector<uint8_t>& data,
           int bitRate, const std::string& what, int tail)
{
    peer.source = PeerSource{&data, 0, tail};
    got.bits.clear();
    std::vector<int16_t> block(80);
    // Training (at most 1.6 s), the data, the ones, and half a second of silence.
    const size_t total = static_cast<size_t>((2.2 + double(data.size()) / bitRate) * 8000);
    for (size_t at = 0; at < total; at += 80) {
        const int n = peer.Tx(block.data(), 80);
        for (int k = n; k < 80; ++k)
            block[k] = 0;
        std::vector<int16_t> heard = line.Process(block.data(), block.size());
        FaxRxBlock(rx, heard.data(), static_cast<int32_t>(heard.size()));
    }
    std::string why;
    if (std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; })) {
        EXPECT_TRUE(faxtest::HasZeroRun(got.bits, data.size(), &why)) << what << ": " << why;
        return;
    }
    EXPECT_EQ(faxtest::BitErrors(got.bits, data, &why), 0u) << what << ": " << why;
    // The data phase starts on an octet boundary of what the receiver delivers (the transmitter's data follow
    // its whole number of octets of ones): a fax program that looks for the first EOL in octets finds it.
    const long start = faxtest::FindStart(got.bits, data);
    EXPECT_EQ(start % 8, 0) << what;
    // What comes before the data is the transmitter's preamble of ones: a bit of the training's end given out
    // as data would be a false code in front of the page's first EOL.
    std::string before;
    for (long k = 0; k < start; ++k)
        before.push_back(static_cast<char>('0' + got.bits[static_cast<size_t>(k)]));
    EXPECT_EQ(before.find('0'), std::string::npos) << what << ": " << before;
}

TEST(FaxReceiver, DecodesTheIndependentTransmitter)
{
    for (const Case& c : kCases) {
        const int32_t code = FaxCodeOf(c.modulationNibble, c.rateNibble);
        Collected got;
        FaxRxState rx{};
        FaxRxInit(&rx, code, FaxRxPort{&got, Collected::Put, Collected::Status}, 0);
        PeerTx peer(FaxModulationOf(code), c.bitRate);
        faxtest::LinePath line(8000, 9600, 25.0, -13.0, 11, c.offsetHz);
        const std::vector<uint8_t> tcf(static_cast<size_t>(1.5 * c.bitRate), 0);
        Burst(peer, &rx, line, got, tcf, c.bitRate, std::string(c.name) + " TCF", c.bitRate / 10);
        peer.Restart(c.bitRate, 0);
        const std::vector<uint8_t> page = faxtest::RandomBits(static_cast<size_t>(faxtest::kPageSeconds * c.bitRate), 5);
        // No ones after the page: its last bits (a page's last EOL) must still arrive before the carrier ends.
        Burst(peer, &rx, line, got, page, c.bitRate, std::string(c.name) + " page", 0);
        if (FaxModulationOf(code) == FAX_V17) {
            // Short training after the long one: the receiver keeps its equaliser.
            const int32_t shortCode = FaxCodeOf(0xD, c.rateNibble);
            FaxRxInit(&rx, shortCode, FaxRxPort{&got, Collected::Put, Collected::Status}, 1);
            peer.Restart(c.bitRate, 1);
            Burst(peer, &rx, line, got, page, c.bitRate, std::string(c.name) + " short-training page", c.bitRate / 10);
        }
        EXPECT_EQ(got.dataStarts, got.dataEnds) << c.name;
    }
}

}  // namespace

#endif  // HAVE_SPANDSP
