// Two modems connected through the simulated exchange, with the application sides of a data transfer: each
// side writes its bytes as fast as its port takes them and reads on a schedule of its own, in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "exchange_modems.h"

namespace datatest {

// Bytes of every value, in an order that differs between the two directions.
inline std::vector<uint8_t> AllByteValues(size_t length, uint8_t step)
{
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i)
        out[i] = static_cast<uint8_t>(i * step + i / 256);
    return out;
}

// One direction of a transfer: what the sender still has to write, what the receiver got.
struct Flow {
    std::vector<uint8_t> data;
    size_t written = 0;
    std::string received;
    bool Done() const { return received.size() >= data.size(); }
};

// Connects A (dialling) and B (answering) at V.22bis; false (with the dialogue in the failure) when not.
inline bool ConnectV22bis(calltest::ExchangeModems& x, const std::string& extraA = "", const std::string& extraB = "")
{
    x.Type(x.B(), "ATS0=1+MS=V22B" + extraB + "\r");
    x.Type(x.A(), "ATX4+MS=V22B" + extraA + ";DT202\r");
    const bool ok = x.RunUntil([&] {
        return x.OutA().find("CONNECT 2400") != std::string::npos &&
               x.OutB().find("CONNECT 2400") != std::string::npos;
    }, 30000);
    EXPECT_TRUE(ok) << x.OutA() << "\n---\n" << x.OutB();
    x.Run(200);  // data mode starts once the report has gone out
    x.TakeA();
    x.TakeB();
    return ok;
}

// Writes the next piece of a flow from a modem's port (the write waits at most 10 ms of virtual time), as an
// application with hardware flow control does: nothing while the modem holds CTS off.
inline void WriteSome(dsptest::RealPumpModem& m, Flow& f, size_t piece = 1024)
{
    constexpr ULONG kCts = 0x10;
    if (f.written >= f.data.size() || (m.ModemStatus() & kCts) == 0) {
        platform::SleepMs(10);
        return;
    }
    const size_t n = std::min(piece, f.data.size() - f.written);
    f.written += m.SendSome(f.data.data() + f.written, n, 10);
}

}  // namespace datatest
