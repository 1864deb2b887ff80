// Two modems connected through the simulated exchange, with the application sides of a data transfer: each
// side writes its bytes as fast as its port takes them and reads on a schedule of its own, in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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

// What a run saw of the modems' flow control.
struct FlowSeen {
    int writerHeldA = 0;  // passes on which A's modem held its application (CTS off)
    int writerHeldB = 0;
    size_t fullestToDteB = 0;  // most bytes waiting in B's to-DTE ring
};

// Runs both flows until both are delivered or `limitMs` of virtual time pass. A reader reads only every
// `readEveryMs`, so its modem's buffers must hold what arrives meanwhile.
inline FlowSeen RunTransfer(calltest::ExchangeModems& x, Flow& ab, Flow& ba, int readEveryMs, int limitMs)
{
    FlowSeen seen;
    const int64_t start = x.Clock().Now();
    auto ms = [&] { return static_cast<int>((x.Clock().Now() - start) / 10000); };
    int lastRead = 0;
    while (ms() < limitMs && !(ab.Done() && ba.Done())) {
        WriteSome(x.A(), ab);
        WriteSome(x.B(), ba);
        seen.writerHeldA += x.A().Ext()->dte.flow.flow_off_asserted.load();
        seen.writerHeldB += x.B().Ext()->dte.flow.flow_off_asserted.load();
        seen.fullestToDteB = std::max<size_t>(seen.fullestToDteB, x.B().Ext()->dte.to_dte.count);
        if (ms() - lastRead >= readEveryMs) {
            // A read empties the application queue; the modem refills it from its to-DTE ring within a few
            // ticks, so the reader reads on for 100 ms before it pauses again.
            for (int k = 0; k < 5; ++k) {
                ab.received += x.B().Take();
                ba.received += x.A().Take();
                WriteSome(x.A(), ab);
                WriteSome(x.B(), ba);
            }
            lastRead = ms();
        }
    }
    ab.received += x.B().Take();
    ba.received += x.A().Take();
    return seen;
}

inline std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// Index of the first byte that differs (npos when none), with the bytes around it in the failure output.
inline size_t FirstDifference(const std::string& got, const std::string& want)
{
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            std::string g, w;
            for (size_t k = i; k < std::min(n, i + 8); ++k) {
                g += std::to_string(static_cast<uint8_t>(got[k])) + " ";
                w += std::to_string(static_cast<uint8_t>(want[k])) + " ";
            }
            ADD_FAILURE() << "at " << i << ": got " << g << "want " << w;
            return i;
        }
    }
    return got.size() == want.size() ? std::string::npos : n;
}

// Whether a flow arrived whole, once and in order (failures name the direction and the first differing byte).
inline void ExpectDelivered(const Flow& f, const char* direction)
{
    EXPECT_EQ(f.received.size(), f.data.size()) << direction;
    EXPECT_EQ(FirstDifference(f.received, AsString(f.data)), std::string::npos) << direction;
}

inline void ExpectDelivered(const Flow& ab, const Flow& ba)
{
    ExpectDelivered(ab, "A to B");
    ExpectDelivered(ba, "B to A");
}

}  // namespace datatest
