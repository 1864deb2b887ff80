// The V.22bis benchmarks' set-up: a trained pair of our modems and a recording of the caller's 2400 bit/s data
// signal for the answerer to receive, and the same for libspandsp's modem pair (80 samples at 8000 Hz a block).
#pragma once

#include <cstdint>
#include <vector>

#include "layer1/modem/v22/v22.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace benchsupport {

constexpr int kV22RecordBlocks = 600;  // 6 s of the peer's signal

struct V22Bits {
    uint32_t lfsr = 0xACE1u;
    int32_t Next(int32_t n)
    {
        int32_t v = 0;
        for (int32_t i = 0; i < n; ++i) {
            lfsr = (lfsr >> 1) ^ (-(lfsr & 1u) & 0xB400u);
            v |= static_cast<int32_t>(lfsr & 1u) << i;
        }
        return v;
    }
    static int32_t Get(void* owner, int32_t n) { return static_cast<V22Bits*>(owner)->Next(n); }
    static int GetOne(void* owner) { return static_cast<V22Bits*>(owner)->Next(1); }
    static void Put(void*, uint32_t, int32_t) {}
    static void PutOne(void*, int) {}
};

inline void PrepareV22(V22Modem* m, V22Bits* bits, int16_t txStep, int16_t rxStep)
{
    *m = V22Modem{};
    m->tx.carrier_step = txStep;
    m->tx.tx_gain = 10362;
    m->rx.rx_carrier_step = rxStep;
    m->bits_per_symbol = 4;
    m->port = V22Port{bits, V22Bits::Get, V22Bits::Put};
    V22TxReset(&m->tx);
    V22RxInit(m);
}

// Our pair: the answerer's receiver trained on the caller's signal through the handshake stages, then the
// caller's data signal recorded. The answerer is left sending data.
struct OurV22Pair {
    V22Bits bits;
    V22Modem caller;
    V22Modem answerer;
    std::vector<int16_t> recording;

    OurV22Pair()
    {
        PrepareV22(&caller, &bits, kV22Carrier1200, kV22Carrier2400);
        PrepareV22(&answerer, &bits, kV22Carrier2400, kV22Carrier1200);
        int16_t block[96];
        auto run = [&](uint16_t control, int blocks) {
            for (int i = 0; i < blocks; ++i) {
                caller.tx.tx_control = control;
                V22TxBlock(&caller, block, 96);
                V22RxBlock(&answerer, block, 96);
            }
        };
        V22RxReset(&answerer);
        run(kV22TxOnes1200, 3);
        V22RxSettle(&answerer);
        run(kV22TxOnes1200, 5);
        V22RxSeed(&answerer);
        run(kV22TxOnes1200, 1);
        V22RxTrain1(&answerer);
        run(kV22TxOnes1200, 8);
        V22RxTrain2(&answerer);
        run(kV22TxOnes1200, 30);
        V22RxTimingReference(&answerer);
        V22RxRateSettings(&answerer);
        run(kV22TxOnes2400, 20);
        V22RxConnect(&answerer, 1);
        run(kV22TxData2400, 20);
        recording.resize(96 * kV22RecordBlocks);
        for (int i = 0; i < kV22RecordBlocks; ++i) {
            caller.tx.tx_control = kV22TxData2400;
            V22TxBlock(&caller, &recording[96 * i], 96);
        }
        answerer.tx.tx_control = kV22TxData2400;
    }
};

#ifdef HAVE_SPANDSP
// The peer's pair trained against each other for 5 s, then the caller's data signal recorded.
struct PeerV22Pair {
    V22Bits bits;
    v22bis_state_t* caller;
    v22bis_state_t* answerer;
    std::vector<int16_t> recording;

    PeerV22Pair()
    {
        caller = v22bis_init(nullptr, 2400, 0, 1, V22Bits::GetOne, &bits, V22Bits::PutOne, &bits);
        answerer = v22bis_init(nullptr, 2400, 0, 0, V22Bits::GetOne, &bits, V22Bits::PutOne, &bits);
        int16_t a[80];
        int16_t b[80];
        for (int i = 0; i < 500; ++i) {
            const int na = v22bis_tx(caller, a, 80);
            const int nb = v22bis_tx(answerer, b, 80);
            for (int k = na; k < 80; ++k)
                a[k] = 0;
            for (int k = nb; k < 80; ++k)
                b[k] = 0;
            v22bis_rx(answerer, a, 80);
            v22bis_rx(caller, b, 80);
        }
        recording.resize(80 * kV22RecordBlocks);
        for (int i = 0; i < kV22RecordBlocks; ++i) {
            const int n = v22bis_tx(caller, &recording[80 * i], 80);
            for (int k = n; k < 80; ++k)
                recording[80 * i + k] = 0;
        }
    }
    ~PeerV22Pair()
    {
        v22bis_free(caller);
        v22bis_free(answerer);
    }
    PeerV22Pair(const PeerV22Pair&) = delete;
    PeerV22Pair& operator=(const PeerV22Pair&) = delete;
};
#endif

}  // namespace benchsupport
