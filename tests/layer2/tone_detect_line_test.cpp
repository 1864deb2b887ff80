// Call-progress tone detection end to end: the controller's class 4 handler over the real data pump, whose
// detector filters hear the line. The signals come from the simulated exchange (each country's dial tone,
// busy, congestion and ringback, reached by going off hook and dialling), from an independent tone generator
// (the standard frequencies and cadences), and from a player of silence, noise and out-of-band tones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/parameter_directory.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "line/exchange_port.h"
#include "line/line_network.h"
#include "support/exchange_country.h"
#include "support/pump_harness.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

using pumptest::PumpModem;
using pumptest::RunFor;

namespace {

constexpr double kRate = 8000.0;
constexpr double kPi = 3.14159265358979323846;

// Plays a prepared signal into the line (silence after its end) and drops what it hears.
struct Player {
    LineEndpoint endpoint;
    std::vector<int16_t> samples;
    size_t at = 0;
};

bool PlayerProduce(LineEndpoint* e, int16_t* out, size_t n)
{
    auto* p = static_cast<Player*>(e->owner);
    for (size_t i = 0; i < n; ++i)
        out[i] = p->at < p->samples.size() ? p->samples[p->at++] : 0;
    return true;
}
bool PlayerConsume(LineEndpoint*, const int16_t*, size_t) { return true; }
void PlayerAbort(LineEndpoint*) {}
void PlayerClose(LineEndpoint*) {}
const LineEndpointOps kPlayerOps = {PlayerProduce, PlayerConsume, PlayerAbort, PlayerClose};

// Peak of a sine at a level in dBm0 (a full-scale sine is +3.14 dBm0).
double Amplitude(double dbm0)
{
    return 32767.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0);
}

void AddTone(std::vector<int16_t>& x, size_t from, size_t n, double hz, double dbm0)
{
    if (x.size() < from + n)
        x.resize(from + n);
    const double a = Amplitude(dbm0);
    for (size_t i = 0; i < n; ++i) {
        const double v = x[from + i] + a * std::sin(2 * kPi * hz * static_cast<double>(i) / kRate);
        x[from + i] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
}

size_t Samples(int ms) { return static_cast<size_t>(ms) * 8; }

// The controller's side: a DSP device with only the class 4 handler, bound to a real data pump on the line.
class ToneRig {
public:
    explicit ToneRig(const char* iso) : country_(linetest::BuiltinCountryBlock(iso))
    {
        network_ = LineNetworkCreate();
        modem_ = std::make_unique<PumpModem>(clock_, network_);
    }
    ~ToneRig()
    {
        if (dev_ != nullptr) {
            platform::MachineScope scope(modem_->Machine());
            dsp_device_unbind(dev_.get());
        }
        EXPECT_EQ(modem_->Remove(), STATUS_SUCCESS);
        modem_.reset();
        if (binding_ != nullptr)
            ExchangeUnbind(binding_);
        if (exchange_ != nullptr)
            ExchangeDestroy(exchange_);
        LineNetworkDestroy(network_);
    }

    // The exchange line "100" for the modem, and lines "200" and "300".
    void WithExchange()
    {
        exchange_ = ExchangeCreate(country_exchange_signals(country_));
        binding_ = ExchangeBind(exchange_, network_);
        std::string error;
        ASSERT_TRUE(ExchangeBindPort(binding_, modem_->Port(), "100", LineConnectionParams(), &error)) << error;
        ASSERT_GE(ExchangeAddLine(exchange_, "200", &error), 0) << error;
        ASSERT_GE(ExchangeAddLine(exchange_, "300", &error), 0) << error;
    }
    void WithPlayer(std::vector<int16_t> samples)
    {
        player_.samples = std::move(samples);
        player_.endpoint.ops = &kPlayerOps;
        player_.endpoint.owner = &player_;
        player_.endpoint.kind = "player";
        LineConnect(network_, &modem_->Port()->endpoint, &player_.endpoint, LineConnectionParams{});
    }
    // Starts the data pump, binds the controller to it and resets the pump to idle (detector mode 0).
    void Start()
    {
        ASSERT_EQ(modem_->Start(), STATUS_SUCCESS);
        platform::MachineScope scope(modem_->Machine());
        dev_ = std::make_unique<DspDevice>();
        dsp_device_init(dev_.get(), nullptr);
        dsp_device_bind(dev_.get(), modem_->Context()->interfaceBlock, modem_->Context());
        modem_->Forward(dsp_event_routine);
        dsp_set_port_ready(&dev_->link, true);
        const DspHandlerRequest handler{kMsgToneDetect, dsp_on_tone_detect_msg, dev_.get()};
        DspInterfaceSetup(&dev_->context, &dev_->queue, &dev_->link, &optionA_, &country_, &handler, 1, nullptr);
        ASSERT_EQ(dsp_reset_to_idle(dev_.get()), kIcdSent);
        dsp_relay_hook_output(&dev_->link, false);
        Run(50);
    }

    // Passes of the message pump every 10 ms of clock time; the codes read on the way with their times.
    struct Code {
        int ms;
        uint8_t code;
    };
    std::vector<Code> Run(int ms)
    {
        std::vector<Code> codes;
        for (int t = 0; t < ms; t += 10) {
            RunFor(10);
            platform::MachineScope scope(modem_->Machine());
            dsp_msg_add_ms(&dev_->queue, 10);
            dsp_msg_pump(&dev_->context);
            if (uint8_t c = dsp_take_tone_result(&dev_->context))
                codes.push_back({t + 10, c});
        }
        return codes;
    }
    template <typename F>
    void Controller(F f)
    {
        platform::MachineScope scope(modem_->Machine());
        f(&dev_->context);
    }
    void Reset()
    {
        platform::MachineScope scope(modem_->Machine());
        ASSERT_EQ(dsp_reset_to_idle(dev_.get()), kIcdSent);
    }
    void Hook(bool off)
    {
        platform::MachineScope scope(modem_->Machine());
        dsp_relay_hook_output(&dev_->link, off);
    }
    // DTMF digits through the data pump, 70 ms on and 70 ms off.
    void Dial(const std::string& number)
    {
        {
            platform::MachineScope scope(modem_->Machine());
            ASSERT_EQ(dsp_set_dtmf_timing(dev_.get(), 70, 70, 0, 0), kIcdSent);
        }
        for (char d : number) {
            {
                platform::MachineScope scope(modem_->Machine());
                ASSERT_EQ(dsp_start_digit(dev_.get(), static_cast<uint8_t>(d - '0')), kIcdSent);
            }
            Run(200);
        }
    }
    Exchange* Ex() { return exchange_; }
    DspContext* Pump() { return modem_->Context(); }

private:
    platform::Clock clock_;
    platform::ClockThread self_{clock_};
    CountryBlock country_;
    LineNetwork* network_ = nullptr;
    std::unique_ptr<PumpModem> modem_;
    std::unique_ptr<DspDevice> dev_;
    uint8_t optionA_ = 0;
    Exchange* exchange_ = nullptr;
    ExchangeBinding* binding_ = nullptr;
    Player player_;
};

std::string Show(const std::vector<ToneRig::Code>& codes)
{
    std::string s;
    for (const ToneRig::Code& c : codes)
        s += std::to_string(c.code) + "@" + std::to_string(c.ms) + "ms ";
    return s;
}

bool Has(const std::vector<ToneRig::Code>& codes, uint8_t code)
{
    for (const ToneRig::Code& c : codes)
        if (c.code == code)
            return true;
    return false;
}

// Every DSP memory location the filter programming writes is in the data pump's directory, large enough for
// the words written (the word the programming leaves out, 77, is not there).
TEST(ToneDetectLine, FilterAddressesAreInThePumpsDirectory)
{
    ToneRig rig("USA");
    rig.WithPlayer({});
    rig.Start();
    const DspInterfaceBlock* block = rig.Pump()->interfaceBlock;
    for (int f = 0; f < kToneFilters; ++f) {
        SCOPED_TRACE(f);
        const uint32_t a = dsp_tone_filter_address(f);
        EXPECT_GE(MemoryParamSize(block, a), 14u);
        EXPECT_GE(MemoryParamSize(block, a + 7), 14u);
        EXPECT_GE(MemoryParamSize(block, a + 14), 2u);
        EXPECT_GE(MemoryParamSize(block, dsp_tone_threshold_address(f)), 4u);
    }
    EXPECT_EQ(FindMemoryParam(block, 77), nullptr);
}

// Calls through the exchange, one rig per country: dial tone after its continuous time, then busy (the
// called line off hook), congestion (an unknown number) and ringback (the called line rung), each on a new
// off-hook with a new wait for dial tone.
TEST(ToneDetectLine, CallProgressFromTheExchange)
{
    for (const char* iso : {"USA", "DEU"}) {
        SCOPED_TRACE(iso);
        ToneRig rig(iso);
        rig.WithExchange();
        rig.Start();
        // The filter set the controller wrote is what the data pump's detector section 0 holds.
        struct Call {
            const char* number;
            bool calledBusy;
            uint8_t code;
        };
        const Call calls[] = {{"200", true, 3}, {"9", false, 15}, {"300", false, 5}};
        bool first = true;
        for (const Call& call : calls) {
            SCOPED_TRACE(call.number);
            rig.Controller([](DspLinkContext* c) { dsp_detect_tone(c, 1); });
            rig.Run(100);
            rig.Hook(true);
            std::vector<ToneRig::Code> codes = rig.Run(1600);
            ASSERT_EQ(codes.size(), 1u) << Show(codes);
            EXPECT_EQ(codes[0].code, 1);
            EXPECT_GE(codes[0].ms, 1000);
            EXPECT_LE(codes[0].ms, 1300);
            if (first) {
                const DetectorCoefficientSet& set = rig.Pump()->parameters.detectorSet[0];
                uint16_t p[16];
                ASSERT_TRUE(cb_filter_set(linetest::BuiltinCountryBlock(iso), 1, p));
                EXPECT_EQ(set.first[0], p[2]);
                EXPECT_EQ(set.second[5], 256);
                EXPECT_EQ(set.trigger, p[15]);
                EXPECT_EQ(rig.Pump()->parameters.callProgressLevel[0], 40u | (45u << 16));
                first = false;
            }
            ExchangeHook(rig.Ex(), 1, call.calledBusy, static_cast<LONGLONG>(KeQueryInterruptTime()));
            rig.Dial(call.number);
            rig.Controller([](DspLinkContext* c) { dsp_detect_progress_tones(c); });
            codes = rig.Run(8000);
            // The tone's own code and no other progress code (a ringback burst may also pass for dial tone).
            EXPECT_TRUE(Has(codes, call.code)) << Show(codes);
            for (uint8_t other : {3, 15, 5})
                if (other != call.code) {
                    EXPECT_FALSE(Has(codes, other)) << Show(codes);
                }
            rig.Controller([](DspLinkContext* c) { dsp_stop_tone_detect(c); });
            rig.Hook(false);
            ExchangeHook(rig.Ex(), 1, false, static_cast<LONGLONG>(KeQueryInterruptTime()));
            rig.Run(1000);
            // Back to idle: the data pump's detectors are reset (the on-hook change has stopped them).
            rig.Reset();
        }
    }
}

// Speech-band noise: sines every 10 Hz from 300 to 3400 Hz with random phases, `dbm0` in all.
std::vector<int16_t> SpeechBandNoise(size_t n, double dbm0, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> phase(0, 2 * kPi);
    const int lines = 311;
    const double a = Amplitude(dbm0) / std::sqrt(static_cast<double>(lines));
    std::vector<double> x(n, 0.0);
    for (int k = 0; k < lines; ++k) {
        const double w = 2 * kPi * (300.0 + 10.0 * k) / kRate;
        const double p = phase(random);
        for (size_t i = 0; i < n; ++i)
            x[i] += a * std::sin(w * static_cast<double>(i) + p);
    }
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(std::lround(std::clamp(x[i], -32768.0, 32767.0)));
    return out;
}

// White noise, uniform over the band, `dbm0` in all.
std::vector<int16_t> WhiteNoise(size_t n, double dbm0, uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, Amplitude(dbm0) / std::sqrt(2.0));
    std::vector<int16_t> out(n);
    for (int16_t& v : out)
        v = static_cast<int16_t>(std::lround(std::clamp(gauss(random), -32768.0, 32767.0)));
    return out;
}

// What is not a call-progress tone gives no code: silence, steady or cadenced tones outside the filter's
// band, and noise, with every progress tone armed. The data pump normalises the detector input, so the level
// of noise does not matter, only the share of it inside the filter's band: the noise, quiet or loud, is
// played to every built-in country with progress tones, the other signals to two of them.
TEST(ToneDetectLine, NothingFromSignalsThatAreNotProgressTones)
{
    struct Segment {
        const char* name;
        std::vector<int16_t> samples;
        bool noise;
    };
    const int ms = 4000;
#ifdef MODEM_UNDER_SANITIZER
    const int noiseMs = 2000;  // still twice the continuous time of a dial tone
#else
    const int noiseMs = ms;
#endif
    std::vector<Segment> segments;
    segments.push_back({"silence", std::vector<int16_t>(Samples(ms), 0), false});
    for (double hz : {1400.0, 2100.0, 3000.0}) {
        std::vector<int16_t> x;
        AddTone(x, 0, Samples(ms), hz, -10);
        segments.push_back({hz == 1400.0 ? "1400 Hz" : hz == 2100.0 ? "2100 Hz" : "3000 Hz", x, false});
    }
    std::vector<int16_t> burst;  // 1400 Hz with a busy cadence
    for (int k = 0; k < 4; ++k)
        AddTone(burst, Samples(1000 * k), Samples(500), 1400, -10);
    burst.resize(Samples(ms));
    segments.push_back({"1400 Hz with a busy cadence", burst, false});
    segments.push_back({"speech-band noise", SpeechBandNoise(Samples(noiseMs), -20, 7), true});
    segments.push_back({"white noise at -60 dBm0", WhiteNoise(Samples(noiseMs), -60, 8), true});
    segments.push_back({"white noise at -10 dBm0", WhiteNoise(Samples(noiseMs), -10, 9), true});
    const CountryList& list = country_builtin_list();
    std::vector<bool> blockSeen(COUNTRY_BUILTIN_BLOCKS, false);
    int countries = 0;
    for (unsigned i = 0; i < country_list_count(list); ++i) {
        CountryListEntry e{};
        ASSERT_TRUE(country_list_entry(list, i, &e));
        const CountryBlock& block = country_builtin_block(e.block);
        if (blockSeen[e.block] || cb_u16(block, CB_SIGNALS) == 0)  // no dial tone: no progress tones
            continue;
        blockSeen[e.block] = true;
        ++countries;
        SCOPED_TRACE(e.iso);
        const bool everything = std::string(e.iso) == "USA" || std::string(e.iso) == "DEU";
        std::vector<int16_t> all;
        for (const Segment& s : segments)
            if (s.noise || everything)
                all.insert(all.end(), s.samples.begin(), s.samples.end());
        ToneRig rig(e.iso);
        rig.WithPlayer(all);
        rig.Start();
        rig.Controller([](DspLinkContext* c) { dsp_detect_progress_tones(c); });
        // The player started with the line; the first 50 ms went by in the start.
        int played = 0;
        for (const Segment& s : segments) {
            if (!s.noise && !everything)
                continue;
            SCOPED_TRACE(s.name);
            const int length = s.noise ? noiseMs : ms;
            const std::vector<ToneRig::Code> codes = rig.Run(played == 0 ? length - 50 : length);
            EXPECT_TRUE(codes.empty()) << Show(codes);
            ++played;
        }
    }
    EXPECT_EQ(countries, static_cast<int>(COUNTRY_BUILTIN_BLOCKS));
}

#ifdef HAVE_SPANDSP
// Call-progress tones from an independent generator at the published frequencies, levels and cadences, one
// after the other with a pause: each gives its own code (a ringback burst may also pass for dial tone).
TEST(ToneDetectLine, TonesFromAnIndependentGenerator)
{
    struct Tone {
        const char* name;
        int f1, l1, f2, l2;  // Hz, dBm0 (f2 0: one frequency)
        int on, off;         // ms (off 0: continuous)
        int run;             // ms played
        uint8_t code;
    };
    struct Country {
        const char* iso;
        std::vector<Tone> tones;
    };
    const Country countries[] = {
        {"USA",
         {{"dial tone", 350, -13, 440, -13, 0, 0, 2000, 1},
          {"busy", 480, -24, 620, -24, 500, 500, 3000, 3},
          {"reorder", 480, -24, 620, -24, 250, 250, 2000, 15},
          {"ringback", 440, -19, 480, -19, 2000, 4000, 6500, 5}}},
        {"DEU",
         {{"dial tone", 425, -10, 0, 0, 0, 0, 2000, 1},
          {"busy", 425, -10, 0, 0, 480, 480, 3000, 3},
          {"congestion", 425, -10, 0, 0, 240, 240, 2000, 15},
          {"ringback", 425, -10, 0, 0, 1000, 4000, 5500, 5}}},
    };
    const int pause = 1500;
    for (const Country& country : countries) {
        SCOPED_TRACE(country.iso);
        std::vector<int16_t> all;
        for (const Tone& t : country.tones) {
            tone_gen_descriptor_t* desc =
                t.off == 0 ? tone_gen_descriptor_init(nullptr, t.f1, t.l1, t.f2, t.l2, t.run, 0, 0, 0, 0)
                           : tone_gen_descriptor_init(nullptr, t.f1, t.l1, t.f2, t.l2, t.on, t.off, 0, 0, 1);
            ASSERT_NE(desc, nullptr);
            tone_gen_state_t* gen = tone_gen_init(nullptr, desc);
            std::vector<int16_t> x(Samples(t.run));
            tone_gen(gen, x.data(), static_cast<int>(x.size()));
            tone_gen_free(gen);
            tone_gen_descriptor_free(desc);
            all.insert(all.end(), x.begin(), x.end());
            all.resize(all.size() + Samples(pause), 0);
        }
        ToneRig rig(country.iso);
        rig.WithPlayer(all);
        rig.Start();
        bool first = true;
        for (const Tone& t : country.tones) {
            SCOPED_TRACE(t.name);
            rig.Controller([](DspLinkContext* c) { dsp_detect_progress_tones(c); });
            const std::vector<ToneRig::Code> codes = rig.Run(first ? t.run - 50 : t.run);
            first = false;
            EXPECT_TRUE(Has(codes, t.code)) << Show(codes);
            for (uint8_t other : {3, 15, 5}) {
                if (other != t.code) {
                    EXPECT_FALSE(Has(codes, other)) << Show(codes);
                }
            }
            rig.Controller([](DspLinkContext* c) { dsp_stop_tone_detect(c); });
            rig.Run(pause);
        }
    }
}
#endif

}  // namespace
