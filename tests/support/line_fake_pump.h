// A stand-in for the data pump on a line port: the calling thread (registered with the clock) waits for the
// port's block event and reads and writes blocks through the port's LowerDriverInterface, as the block
// thread would.
#pragma once

#include <functional>
#include <vector>

#include "line/line_network.h"
#include "platform/clock.h"

namespace linetest {

class FakePump {
public:
    explicit FakePump(LinePort* port);
    ~FakePump();
    LowerDriverInterface* Interface() const { return iface_; }
    // Runs n blocks; for each, calls block(index) after the event, which normally reads and writes.
    void Run(int n, const std::function<void(int)>& block);
    // Reads one block of the current length; returns the samples.
    std::vector<int16_t> Read(uint16_t length);
    bool Write(const std::vector<int16_t>& samples);
    NTSTATUS Control(uint32_t code, void* input, void* output, bool second = false);
    LONGLONG LastEventTime() const { return lastEvent_; }
    void Stop();

private:
    LinePort* port_;
    KEVENT event_{};
    LowerDriverInterface* iface_ = nullptr;
    LONGLONG lastEvent_ = 0;
    bool running_ = false;
};

}  // namespace linetest
