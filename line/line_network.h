// The simulated telephone line: ports (one per modem card), the endpoints they are connected to, and the line
// thread that keeps time for all of them.
//
// The line thread wakes at every port's block boundary (at that port's own rate and block length) and every
// 10 ms for the network: each network tick moves one 80-sample frame both ways through every connection's line
// model. In virtual time the clock stands still while any block or endpoint is being served, so the line runs
// in lockstep with the pumps: no block is skipped. The thread runs while at least one port is started; it is
// a system thread of the machine whose port started first, so every stack on the network is removed before
// any of the machines is destroyed.
//
// In virtual time, while no connection has an endpoint that must wait for its peer (a raw-sample socket), the
// same work runs as a clock routine instead of a thread: the pump that finishes its block last serves the line
// itself, and the block event it then waits for is set before it would sleep, so an idle block costs no thread
// switch. Connecting such an endpoint moves the service to the thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/line_endpoint.h"
#include "line/line_model.h"
#include "line/line_port.h"
#include "platform/kernel.h"

namespace platform {
class Clock;
struct ClockRoutine;
}  // namespace platform

struct LineConnectionParams {
    LineModelParams aToB;
    LineModelParams bToA;
    LineEchoParams echoA;  // A hears its own signal back
    LineEchoParams echoB;
};

struct LineConnection {
    LineEndpoint* a = nullptr;
    LineEndpoint* b = nullptr;
    LineDirection aToB;
    LineDirection bToA;
    LineEcho echoA;
    LineEcho echoB;
    bool ended = false;
    std::string endReason;
    uint64_t frames = 0;
};

constexpr LONGLONG kLineTickPeriod = 100000;  // 10 ms in 100 ns units

struct LineNetwork {
    std::mutex configLock;  // ports and connections; held by the line thread for each network tick
    std::vector<std::unique_ptr<LinePort>> ports;
    std::vector<std::unique_ptr<LineConnection>> connections;

    // The endpoints of the connections, for aborting them while the line thread may be blocked in one of them
    // (holding configLock).
    std::mutex endpointsLock;
    std::vector<LineEndpoint*> endpoints;

    std::mutex threadLock;  // start and stop of the line thread or routine
    int activePorts = 0;
    PKTHREAD thread = nullptr;
    platform::Clock* clock = nullptr;            // virtual time without lockstep endpoints: the routine's clock
    platform::ClockRoutine* routine = nullptr;
    KEVENT wake{};
    volatile LONG stop = 0;
    LONGLONG systemTimeBase = 0;  // system time minus clock time, for absolute waits
    LONGLONG nextTick = 0;
    volatile LONG ticks = 0;
};

LineNetwork* LineNetworkCreate();
// Every port must have been stopped (its device removed). Endpoints other than ports belong to their creator
// (LineEndpointDestroy), after the network or their connection is gone.
void LineNetworkDestroy(LineNetwork* network);
LinePort* LineNetworkAddPort(LineNetwork* network, const LinePortConfig& config);

// Connects two endpoints (a port's endpoint is &port->endpoint). The line model's state starts fresh.
LineConnection* LineConnect(LineNetwork* network, LineEndpoint* a, LineEndpoint* b,
                            const LineConnectionParams& params);
// Removes a connection; its endpoints stay with their owners.
void LineDisconnect(LineNetwork* network, LineConnection* connection);
bool LineConnectionEnded(LineNetwork* network, LineConnection* connection, std::string* reason);
uint64_t LineNetworkTicks(LineNetwork* network);

// Called by the ports.
void LineNetworkPortStarted(LineNetwork* network, LinePort* port);
void LineNetworkPortStopping(LineNetwork* network, LinePort* port);

// A memory resource that tells the line driver's device which port it is (handed over at START).
CM_PARTIAL_RESOURCE_DESCRIPTOR LinePortResource(LinePort* port);
