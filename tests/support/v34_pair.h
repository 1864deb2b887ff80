// Two data pumps on one simulated line in lock step, for the V.34 and PCM pumps: each pump has its own records
// and a sample stream that reports its true latency, the line between them is the duplex line (wideband
// converters to the 8000 Hz network and back, the line model of each direction, echoes). Phase 2 is started
// the way a test bypasses V.8: 0xA1 {2, 0}, then 0x68 with a phase-2 kind. The harness takes every packet the
// pumps post (0xD4-0xD6 among them), reads registers and times each block's CPU.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "support/duplex_line.h"

struct DspContext;
struct DspInterfaceBlock;

namespace pairtest {

using Bytes = std::vector<uint8_t>;

struct PairOptions {
    PairOptions()
    {
        line.rateHz = 9600;
        line.wideband = true;
    }
    linetest::DuplexParams line;      // 9600 Hz, wideband converters
    uint8_t mode[2] = {17, 18};       // connection type of side 0 (the caller) and side 1 (the answerer)
    bool originate[2] = {true, false};
    uint8_t optionByte[2] = {0, 0};   // the start's option byte
    uint8_t modeFlagByte[2] = {0, 0}; // the connection mode byte (bit 1 offers PCM), set after the reset
    size_t prefill = 120;             // receive queue at the start (samples)
    int32_t latencyOverride = -1;     // >= 0: the extra samples each stream reports instead of the truth
    uint16_t depthBlocks[2] = {1, 1}; // reported receive and transmit depths
};

// CPU per block, nanoseconds.
struct BlockTimes {
    std::vector<uint64_t> ns;
    double Mean() const;
    uint64_t Percentile(double p) const;
    uint64_t Max() const;
};

class V34Pair {
public:
    explicit V34Pair(const PairOptions& options);
    ~V34Pair();

    // Resets both pumps and starts phase 2 on both.
    void StartPhase2();
    // One block on each side (read, run, write), then the line carries both blocks.
    void Block();
    // Blocks until done() holds or maxBlocks ran; returns the blocks run.
    int RunUntil(const std::function<bool()>& done, int maxBlocks);
    // Both sides handed phase 2 over (to V.34 phase 3 or to PCM mode).
    bool BothFinished() const;
    bool Finished(int side) const;

    DspContext* Context(int side) const;
    // Sends a command packet to one side; returns the packets the controller took meanwhile.
    std::vector<Bytes> Send(int side, uint8_t code, const Bytes& payload);
    std::vector<Bytes> Packets(int side) const { return packets_[side]; }
    uint8_t Register(int side, int reg) const;
    // Samples of the one-way path between the two pumps on a line without delay (transmit block to the far
    // receive block, converters included): what each stream reports as its latency, split over its depths.
    int32_t OneWayLatency() const { return oneWay_; }
    uint64_t Blocks() const { return blocks_; }
    const BlockTimes& Times(int side) const { return times_[side]; }

    // Called for each side's receive block before the pump reads it (a test silences or corrupts it).
    std::function<void(int side, int16_t* samples, int n)> rxHook;
    // Called after each side's block (a test changes the pump's state between blocks).
    std::function<void(int side)> afterBlock;
    // Called with each side's transmit block as it goes to the line.
    std::function<void(int side, const int16_t* samples, int n)> txHook;

    struct Side;
    static void Callback(DspInterfaceBlock* block);

private:
    PairOptions options_;
    std::unique_ptr<linetest::DuplexLine> line_;
    std::unique_ptr<Side> side_[2];
    std::vector<Bytes> packets_[2];
    int32_t oneWay_ = 0;
    uint64_t blocks_ = 0;
    BlockTimes times_[2];
};

// The one-way latency of a duplex line between lock-step blocks of n samples, measured with an impulse.
int32_t MeasureOneWayLatency(const linetest::DuplexParams& params, size_t prefill, size_t n);

}  // namespace pairtest
