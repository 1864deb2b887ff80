// One end of a line connection on the network side: 8000 Hz samples in frames of kLineFrameSamples.
//
// Each kind (a pump's port, a file, a raw-sample socket, a loopback) fills in the table of routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kLineFrameSamples = 80;  // 10 ms at 8000 Hz

struct LineEndpoint;

struct LineEndpointOps {
    // What the endpoint sends into the network this frame. False ends the call (reason set).
    bool (*produce)(LineEndpoint* endpoint, int16_t* samples, size_t n);
    // What the network delivers to the endpoint this frame. False ends the call (reason set).
    bool (*consume)(LineEndpoint* endpoint, const int16_t* samples, size_t n);
    // Unblocks an endpoint that waits for its peer (the line is stopping).
    void (*abort)(LineEndpoint* endpoint);
    // Frees what the endpoint holds; the record itself belongs to its creator.
    void (*close)(LineEndpoint* endpoint);
};

struct LineEndpoint {
    const LineEndpointOps* ops = nullptr;
    void* owner = nullptr;  // the record of the endpoint's kind
    const char* kind = "";
    // The endpoint must take the network's frame before it gives its own (the raw-sample socket: the modem
    // side writes its block first, then reads the peer's).
    bool consumeFirst = false;
    bool ended = false;
    std::string endReason;
};

void LineEndpointEnd(LineEndpoint* endpoint, const std::string& reason);

// Endpoints other than a port. Each returns null with a message on failure; LineEndpointDestroy closes and
// frees one (after its connection has been removed).
//   Loopback: what it receives in one frame it sends back in the next (10 ms later).
LineEndpoint* LineLoopbackCreate();
//   File: plays a recorded signal into the line (silence after its end) and records what the line delivers.
//   Either path may be empty; ".wav" names a WAV file, anything else raw 16-bit little-endian.
LineEndpoint* LineFileEndpointCreate(const std::string& playPath, const std::string& recordPath,
                                     std::string* error);
bool LineFileEndpointPlayEnded(LineEndpoint* endpoint);
//   Raw-sample socket: listens on a Unix stream socket at path and serves one peer in lockstep: per 10 ms frame
//   it writes the 80 samples the modem sent, then reads the peer's 80 (160 bytes each, 16-bit little-endian).
LineEndpoint* LineSocketEndpointCreate(const std::string& path, std::string* error);
void LineEndpointDestroy(LineEndpoint* endpoint);
