// Synchronous access between two modems on the simulated exchange: the connection at V.22bis with +ES asking
// for it, the application's coding of its data (the colliding octets as EM pairs) and decoding of what it
// receives, payloads rich in colliding octets, and a writer that waits for the port to take everything.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "exchange_modems.h"
#include "layer2/corecode/dce/v80.h"

namespace v80test {

// The application's coding of a byte string: the four colliding octets as EM pairs.
inline std::string Code(const std::string& data)
{
    std::string out;
    for (unsigned char c : data) {
        const uint8_t code = v80_receive_code(c);
        if (code != 0) {
            out += static_cast<char>(V80_EM);
            out += static_cast<char>(code);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// EM and one code, as the application writes it.
inline std::string Em(uint8_t code) { return std::string(1, static_cast<char>(V80_EM)) + static_cast<char>(code); }

// The application's decoding of what it received: data octets (EM pairs of the transparency codes undone) and
// the other codes, each as "<" hex ">" in *codes and as a 0 in the data.
inline std::string Decode(const std::string& in, std::string* codes)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(in[i]);
        if (c != V80_EM || i + 1 >= in.size()) {
            out += static_cast<char>(c);
            continue;
        }
        const uint8_t code = static_cast<uint8_t>(in[++i]);
        uint8_t octets[2];
        const int n = v80_code_octets(code, octets);
        for (int k = 0; k < n; ++k)
            out += static_cast<char>(octets[k]);
        if (n == 0) {
            char t[8];
            std::snprintf(t, sizeof t, "<%02X>", code);
            *codes += t;
            out += '\0';
        }
    }
    return out;
}

// Random octets, one in five of them colliding with the codes.
inline std::string Payload(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string out(n, 0);
    const char collide[4] = {0x11, 0x13, 0x19, static_cast<char>(0x99)};
    for (size_t i = 0; i < n; ++i)
        out[i] = (rng() % 5 == 0) ? collide[rng() % 4] : static_cast<char>(rng() & 0xFF);
    return out;
}

// Random octets none of which collides with a code (each goes to the line as one octet).
inline std::string PlainPayload(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string out(n, 0);
    for (char& c : out) {
        do {
            c = static_cast<char>(rng() & 0xFF);
        } while (v80_receive_code(static_cast<uint8_t>(c)) != 0);
    }
    return out;
}

class V80Exchange : public ::testing::Test {
protected:
    // A calls B; both in synchronous access (transparent sub-mode) at 2400 bit/s. `extraA` and `extraB` go on
    // each side's command line before the call.
    void Connect(const std::string& extraA = "", const std::string& extraB = "")
    {
        x.Type(x.B(), "ATS0=1+MS=V22B;+ES=,,8" + extraB + "\r");
        x.Type(x.A(), "ATX4+MS=V22B;+ES=6" + extraA + ";DT202\r");
        ASSERT_TRUE(x.RunUntil([&] {
            return x.OutA().find("CONNECT 2400") != std::string::npos &&
                   x.OutB().find("CONNECT 2400") != std::string::npos;
        }, 30000)) << attest::Visible(x.OutA()) << "\n---\n" << attest::Visible(x.OutB());
        x.Run(300);
        x.TakeA();
        x.TakeB();
    }
    void Write(dsptest::RealPumpModem& m, const std::string& bytes)
    {
        size_t at = 0;
        for (int guard = 0; at < bytes.size() && guard < 20000; ++guard) {
            at += m.SendSome(reinterpret_cast<const uint8_t*>(bytes.data()) + at, bytes.size() - at, 10);
            x.Run(0);
        }
        ASSERT_EQ(at, bytes.size());
    }

    calltest::ExchangeModems x;
};

}  // namespace v80test
