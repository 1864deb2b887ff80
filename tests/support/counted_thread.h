// A test thread that takes part in virtual time from the moment it is started.
#pragma once

#include <thread>
#include <utility>

#include "platform/clock.h"

namespace testsupport {

// Starts `body` on a new thread counted by `clock` under `name`. The clock is held from before the thread
// exists until it has registered: otherwise, while the new thread waits to be scheduled, the starter's own
// waits let virtual time run ahead without it (on a busy machine by seconds), and whatever the starter then
// expects the new thread to have done within some virtual time may not have happened.
template <class Body>
std::thread StartCountedThread(platform::Clock& clock, const char* name, Body body)
{
    clock.Hold();
    return std::thread([&clock, name, body = std::move(body)]() mutable {
        platform::ClockThread counted(clock, true, name);
        clock.Release();
        body();
    });
}

}  // namespace testsupport
