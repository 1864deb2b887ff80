// Two LAPM links back to back through a simulated line: each direction carries one frame at a time at
// the line rate (flags and FCS counted), and may lose or corrupt frames. Call control's pass runs every
// 10 ms and its 100 ms tick every tenth pass, as in the modem.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "layer2/corecode/ec/lapm.h"

struct LapmDte {
    std::deque<uint8_t> input;     // bytes the application has written, not yet taken by LAPM
    std::vector<uint8_t> output;   // bytes delivered to the application
    uint32_t read_per_pass = 4096; // bytes the application reads per 10 ms (0: the reader stalls)
    uint32_t room = 4096;          // room towards the application left in this pass
    std::vector<std::pair<uint8_t, uint8_t>> breaks;
    uint32_t discards = 0;
};

LapmHost lapm_test_host(LapmDte* dte);

struct LapmEnd {
    LapmDte dte;
    LapmCallValues call{};
    EcCounters counters{};
    LapmLink link;
    uint8_t status = 0;
};

// One direction of the line.
struct LapmWire {
    std::vector<uint8_t> frame;        // the frame on the line
    uint32_t left = 0;                 // octets of it still to go (flags and FCS included)
    double loss = 0;                   // probability a frame is lost
    double corrupt = 0;                // probability a frame arrives with a bad FCS
    uint64_t frames = 0;
    uint64_t lost = 0;
    uint64_t corrupted = 0;
    uint64_t octets = 0;               // line octets sent
    uint64_t kinds[256] = {};          // frames sent by control octet (I-frames counted under 0x00)
    std::vector<std::vector<uint8_t>> log;  // every frame sent, when logging is on
    bool logging = false;
    // Called for every frame before it reaches the far end; may change it or return false to drop it.
    std::function<bool(std::vector<uint8_t>&)> filter;
};

class LapmPair {
public:
    explicit LapmPair(uint16_t rate = 28800, uint32_t seed = 1);
    void setup(const LapmSetup& a, const LapmSetup& b);
    void start();
    // Runs passes of 10 ms; stops early when `until` holds. Returns the passes run.
    uint64_t run(uint64_t passes, const std::function<bool()>& until = {});
    bool established() const;

    LapmEnd a;  // originator
    LapmEnd b;  // answerer
    LapmWire ab;
    LapmWire ba;
    uint64_t now_ms = 0;

private:
    void carry(LapmWire* wire, LapmEnd* from, LapmEnd* to);
    std::mt19937 rng_;
    uint32_t octets_per_pass_;
};

LapmSetup lapm_test_setup(uint8_t srej);
std::vector<uint8_t> lapm_test_pattern(size_t n, uint32_t seed);
