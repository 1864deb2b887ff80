// The fax benchmarks' set-up: the rates measured, a random bit source for our transmitter, and libspandsp's
// fax modems (V.27ter, V.29, V.17) behind one face, run beside ours (80 samples at 8000 Hz a block).
#pragma once

#include <cstdint>
#include <random>

#include "layer1/modem/fax/fax_rx.h"
#include "layer1/modem/fax/fax_tx.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace benchsupport {

struct FaxRate {
    int32_t nibbleMod;
    int32_t nibbleRate;
    int bitRate;
};

// Modulation and rate nibbles of the fax start command, and the bit rate.
inline const FaxRate kFaxRates[] = {{0xA, 4, 2400}, {0xA, 5, 4800}, {0xB, 5, 4800}, {0xB, 6, 7200}, {0xB, 7, 9600},
                                    {0xE, 6, 7200}, {0xE, 7, 9600}, {0xE, 8, 12000}, {0xE, 9, 14400}};

inline std::mt19937 g_rng(1);
inline int32_t OurBits(void*, int32_t n) { return static_cast<int32_t>(g_rng() & ((1u << n) - 1u)); }
inline int32_t Released(void*) { return 1; }
inline void NoBits(void*, uint32_t, int32_t) {}

#ifdef HAVE_SPANDSP
inline int PeerBit(void*) { return static_cast<int>(g_rng() & 1u); }
inline void PeerPut(void*, int) {}

struct FaxPeer {
    int mod;
    void* tx = nullptr;
    void* rx = nullptr;
    FaxPeer(int m, int rate) : mod(m)
    {
        if (m == FAX_V27TER) {
            tx = v27ter_tx_init(nullptr, rate, 0, PeerBit, nullptr);
            rx = v27ter_rx_init(nullptr, rate, PeerPut, nullptr);
        } else if (m == FAX_V29) {
            tx = v29_tx_init(nullptr, rate, 0, PeerBit, nullptr);
            rx = v29_rx_init(nullptr, rate, PeerPut, nullptr);
        } else {
            tx = v17_tx_init(nullptr, rate, 0, PeerBit, nullptr);
            rx = v17_rx_init(nullptr, rate, PeerPut, nullptr);
        }
    }
    ~FaxPeer()
    {
        if (mod == FAX_V27TER) {
            v27ter_tx_free(static_cast<v27ter_tx_state_t*>(tx));
            v27ter_rx_free(static_cast<v27ter_rx_state_t*>(rx));
        } else if (mod == FAX_V29) {
            v29_tx_free(static_cast<v29_tx_state_t*>(tx));
            v29_rx_free(static_cast<v29_rx_state_t*>(rx));
        } else {
            v17_tx_free(static_cast<v17_tx_state_t*>(tx));
            v17_rx_free(static_cast<v17_rx_state_t*>(rx));
        }
    }
    FaxPeer(const FaxPeer&) = delete;
    FaxPeer& operator=(const FaxPeer&) = delete;
    void Tx(int16_t* out, int n)
    {
        if (mod == FAX_V27TER)
            v27ter_tx(static_cast<v27ter_tx_state_t*>(tx), out, n);
        else if (mod == FAX_V29)
            v29_tx(static_cast<v29_tx_state_t*>(tx), out, n);
        else
            v17_tx(static_cast<v17_tx_state_t*>(tx), out, n);
    }
    void Rx(int16_t* in, int n)
    {
        if (mod == FAX_V27TER)
            v27ter_rx(static_cast<v27ter_rx_state_t*>(rx), in, n);
        else if (mod == FAX_V29)
            v29_rx(static_cast<v29_rx_state_t*>(rx), in, n);
        else
            v17_rx(static_cast<v17_rx_state_t*>(rx), in, n);
    }
};
#endif

}  // namespace benchsupport
