// Reading a modem's serial output in virtual time, shared by the AT fixtures.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/machine.h"

namespace serialtest {

// Everything the modem sends within `ms` of virtual time, read in 10 ms steps.
inline std::string ReadFor(platform::Machine& m, PFILE_OBJECT file, int ms)
{
    std::string out;
    for (int t = 0; t < ms; t += 10) {
        char buffer[512];
        ULONG_PTR info = 0;
        EXPECT_EQ(m.Read(file, buffer, sizeof buffer, &info), STATUS_SUCCESS);
        out.append(buffer, info);
        platform::SleepMs(10);
    }
    return out;
}

}  // namespace serialtest
