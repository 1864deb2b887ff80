// A line port: the card's sample-stream driver for one modem. Towards the data pump it is the
// LowerDriverInterface (read block, write block, the two control entries) and the block event it sets once per
// block; towards the network it is an endpoint of 8000 Hz frames. Between the two it converts rates and holds
// a small queue in each direction.
//
// The pump side runs at the rate and block length control code 4 selects (9600 / 96 at start), applied from the
// next block. Control codes 1 and 2 close and open the loop (the stream of blocks never stops); codes 16, 17,
// 20 and 21 reach a codec register file; the others are accepted and logged.
#pragma once

#include <cstdint>
#include <string>

#include "layer1/drivers/wdm/lower_driver_interface.h"
#include "line/line_endpoint.h"
#include "line/resampler.h"
#include "line/sample_queue.h"
#include "line/wav_file.h"
#include "platform/kernel.h"

struct LineNetwork;

constexpr int kLineControlLogEntries = 256;
constexpr int kLineCodecRegisters = 256;

struct LinePortConfig {
    std::string name = "port";
    uint32_t codecMode = 4;       // 4: live codec access
    uint32_t watchdogEnable = 1;  // the codec watchdog of the pump's idle loop
    // Wideband converters (150-3750 Hz) at every pump rate above 8000 Hz, for the V.34 and PCM pumps' phase 2
    // at 9600 Hz; the V.34 rates (8229, 8400, 9000, 10287) always convert wideband.
    bool wideband = false;
};

// One control call as the port saw it.
struct LineControlRecord {
    LONGLONG time;     // clock time, 100 ns
    uint8_t entry;     // 1 control, 2 second control
    uint32_t code;
    uint32_t word[3];  // first words of the input record
    NTSTATUS status;
};

// A change of the hook relay: the card closed (off hook) or opened (on hook) the loop at a clock time.
struct LineHookChange {
    LONGLONG time;  // 100 ns
    bool closed;
};
constexpr int kLineHookChanges = 64;

struct LinePortStats {
    uint64_t blocks = 0;        // block events set
    uint64_t readCalls = 0;
    uint64_t writeCalls = 0;
    uint64_t badCalls = 0;      // reads or writes refused (bad size or buffer)
    uint64_t txMissing = 0;     // blocks the pump did not write in time (silence sent)
    uint64_t txOverwritten = 0; // a second write in one block period
    uint64_t rxUnderruns = 0;   // the network had not delivered enough (silence filled in)
    uint64_t txUnderruns = 0;
    uint64_t rxOverflows = 0;
    uint64_t ioctls = 0;        // device-control requests that reached the port
    ULONG lastIoctl = 0;
};

struct LinePort {
    LineEndpoint endpoint;  // network side
    LinePortConfig config;
    LineNetwork* network = nullptr;
    LowerDriverInterface iface{};

    KSPIN_LOCK lock{};
    PKEVENT blockEvent = nullptr;
    bool started = false;

    // Pump side.
    LowerFormat format{9600, 96};
    LowerFormat pendingFormat{9600, 96};
    bool formatPending = false;
    int16_t rxBlock[1024] = {};
    uint16_t rxLength = 0;
    int16_t txBlock[1024] = {};
    uint16_t txLength = 0;
    uint16_t txRate = 9600;
    bool txFresh = false;
    Resampler rxConverter;  // 8000 Hz -> pump rate
    Resampler txConverter;  // pump rate -> 8000 Hz
    uint32_t rxConverterRate = 0;
    uint32_t txConverterRate = 0;
    SampleQueue rxQueue;    // 8000 Hz samples on their way to the pump
    SampleQueue txQueue;    // 8000 Hz samples on their way to the network
    size_t rxPrefill = 0;
    size_t txPrefill = 0;

    // Block clock.
    LONGLONG epoch = 0;           // clock time of the first block at the current format
    uint64_t epochSamples = 0;    // samples since then
    LONGLONG nextDue = 0;

    // Line and card state set by the control codes.
    bool loopClosed = false;      // off hook
    LineHookChange hookChanges[kLineHookChanges] = {};
    uint64_t hookChangeCount = 0;
    uint32_t callerId = 0;
    uint32_t hostControl = 0;
    uint32_t option8 = 0;
    uint32_t value11 = 0;
    uint32_t value13 = 0;
    uint32_t codec[2][kLineCodecRegisters] = {};

    LineControlRecord log[kLineControlLogEntries] = {};
    uint64_t logCount = 0;
    LinePortStats stats;

    // Test hook: the next slowReads reads each take slowReadDelay (100 ns) of clock time, as a slow block would.
    uint32_t slowReads = 0;
    LONGLONG slowReadDelay = 0;

    // Captures of the network side (what the pump sent, what it received), 8000 Hz.
    SampleFileWriter txCapture;
    SampleFileWriter rxCapture;
};

// Creation belongs to the network (LineNetworkAddPort). The line driver binds a port to its device at START.
void LinePortInit(LinePort* port, LineNetwork* network, const LinePortConfig& config);
// START: remembers the block event, starts the block clock; returns the interface handed up.
LowerDriverInterface* LinePortStart(LinePort* port, PKEVENT blockEvent);
void LinePortStop(LinePort* port);
// The port's block tick (line thread): takes the pump's last block, prepares the next and sets the event.
void LinePortBlockTick(LinePort* port, LONGLONG now);
void LinePortNoteIoctl(LinePort* port, ULONG code);

// Captures: paths may be empty; the format follows the extension (.wav or raw).
bool LinePortSetCaptures(LinePort* port, const std::string& txPath, const std::string& rxPath, std::string* error);
void LinePortCloseCaptures(LinePort* port);

// Copies of the state for tests and the harness (taken under the port's lock).
LinePortStats LinePortGetStats(LinePort* port);
size_t LinePortGetLog(LinePort* port, LineControlRecord* out, size_t max);  // oldest first
LowerFormat LinePortGetFormat(LinePort* port);
bool LinePortLoopClosed(LinePort* port);
// The hook changes after *cursor (a count of changes, 0 at creation), oldest first, at most max of them; the
// cursor moves past those returned. A reader more than kLineHookChanges behind misses the oldest.
size_t LinePortHookChanges(LinePort* port, uint64_t* cursor, LineHookChange* out, size_t max);
bool LinePortStarted(LinePort* port);
void LinePortSetCodecRegister(LinePort* port, uint32_t selector, uint32_t value);  // a test breaks the codec
void LinePortSetSlowReads(LinePort* port, uint32_t count, LONGLONG delay100ns);
// The exact rate of a format (D37: 8229 and 10287 are 57600/7 and 72000/7 Hz) and whether the port converts
// it wideband.
void LinePortExactRate(const LinePort* port, uint32_t rate, uint64_t* numerator, uint64_t* denominator);
bool LinePortWideband(const LinePort* port, uint32_t rate);
// Latency of the stream as reported in the code-20 record (pump-rate samples).
void LinePortLatency(LinePort* port, uint16_t* rxDepthBlocks, uint16_t* txDepthBlocks, uint32_t* extraSamples);
