// Two modems' data links back to back, each the whole controller-side road: an error-control manager
// with its LAPM and MNP engines, the line block on a register window, and the data pump's framer on the
// other side of the window. The framers exchange bits at the line rate (asynchronous characters or HDLC,
// as each line block's framing packet selects), and the line may flip bits. Call control's pass runs every
// 10 ms and the 100 ms protocol tick every tenth pass, as in the modem.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "layer1/dsp/framer.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/ec_manager.h"
#include "window/dsp_interface_block.h"

struct EcDte {
    std::deque<uint8_t> input;     // bytes the application has written, not yet taken
    std::vector<uint8_t> output;   // bytes delivered to the application
    uint32_t read_per_pass = 8192; // bytes the application reads per 10 ms (0: the reader stalls)
    uint32_t room = 8192;          // room towards the application left in this pass
    std::vector<std::pair<uint8_t, uint8_t>> breaks;
    uint32_t discards = 0;
    std::vector<uint8_t> line_breaks;  // breaks handed to the line side's hook (buffered mode)
};

struct EcEnd {
    EcDte dte;
    LapmCallValues call{};
    EcManager manager;
    LineBlock lb;
    DspInterfaceBlock window;
    BitStreamFramer framer;
    uint8_t framing = 0;           // framer type now running (0 asynchronous, 2 HDLC)
    std::vector<uint8_t> framings; // every framing packet's kind
    uint8_t status = 0;            // last ec_poll answer
    uint64_t bits_flipped = 0;     // on the line towards this end
};

class EcPair {
public:
    explicit EcPair(uint16_t rate = 14400, uint32_t seed = 1);
    ~EcPair();
    void set_params(const EcParams& a, const EcParams& b);
    void start();
    // Runs passes of 10 ms; stops early when `until` holds. Returns the passes run.
    uint64_t run(uint64_t passes, const std::function<bool()>& until = {});

    EcEnd& a;  // originator
    EcEnd& b;  // answerer
    double ber_ab = 0;  // probability that a bit on the line from a to b is flipped
    double ber_ba = 0;
    bool mute_ab = false;  // the line from a to b carries nothing (a far end that never answers)
    bool mute_ba = false;
    uint64_t now_ms = 0;

private:
    void carry(EcEnd* from, EcEnd* to, double ber, bool mute);
    std::unique_ptr<EcEnd> a_;
    std::unique_ptr<EcEnd> b_;
    std::mt19937 rng_;
    int bits_per_pass_;
};

// Parameters as connection control composes them: MNP on or off, its class and MNP class 5, LAPM,
// buffered fall-back.
EcParams ec_test_params(uint8_t mnp, uint8_t mnp_class, uint8_t mnp5, uint8_t lapm, uint8_t buffered);
std::vector<uint8_t> ec_test_pattern(size_t n, uint32_t seed);
// Text-like bytes (compressible by MNP class 5) mixed with runs and random stretches.
std::vector<uint8_t> ec_test_text(size_t n, uint32_t seed);
