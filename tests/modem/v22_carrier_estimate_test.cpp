// The receiver's carrier-offset estimate, made from the far end's scrambled ones while the start energies
// accumulate, against known offsets: from a transmitter whose carrier is set off by whole phase steps, and
// from the other pump through the line model. The estimate starts the carrier loop, so what is measured is
// the loop integrator the seed step leaves.
#include <gtest/gtest.h>

#include <cmath>

#include "v22_fixture.h"

using v22test::LineSettings;
using v22test::PumpPair;

namespace {

// Integrator units of one hertz: the loop adds integrator x 2710 / 32768 phase units (65536 a turn) a symbol.
constexpr double kUnitsPerHz = 1.0 / 600.0 * 65536.0 * 32768.0 / 2710.0;

double PresetHz(const V22RxState& r) { return -r.loop_integrator / kUnitsPerHz; }

int32_t NoBits(void*, int32_t) { return -1; }
void DropBits(void*, uint32_t, int32_t) {}

// A clean 2400 Hz signal of scrambled ones (as the answerer sends them), its carrier up to 15 Hz off, from
// many scrambler starts: after the five settling blocks the preset is within a quarter of a hertz. (The
// estimate once averaged every filter phase's turn over one symbol, whose interference from the neighbouring
// symbols left it up to 8 Hz off.)
TEST(V22CarrierEstimate, ScrambledOnesGiveTheOffsetWithinAQuarterHertz)
{
    for (double offsetHz : {-15.0, -7.0, 0.0, 7.0, 15.0}) {
        for (uint32_t trial = 0; trial < 12; ++trial) {
            V22Modem tx{};
            V22Modem rx{};
            tx.port = V22Port{nullptr, NoBits, DropBits};
            rx.port = tx.port;
            tx.tx.carrier_step = static_cast<int16_t>(kV22Carrier2400 + std::lround(offsetHz * 65536 / 9600));
            tx.tx.tx_gain = 8000;
            V22TxReset(&tx.tx);
            tx.tx.tx_control = kV22TxOnes1200;
            tx.tx.scrambler = (0x1234567u * (trial + 1)) & 0x1FFFFu;
            rx.rx.rx_carrier_step = kV22Carrier2400;
            V22RxInit(&rx);
            V22RxReset(&rx);
            rx.bits_per_symbol = 2;
            rx.rx.control |= V22_RX_AGC;
            int16_t block[96];
            for (uint32_t b = 0; b < 20 + trial % 7; ++b) {
                V22TxBlock(&tx, block, 96);
                V22RxBlock(&rx, block, 96);
            }
            for (int b = 0; b < 5; ++b) {
                V22RxSettle(&rx);
                V22TxBlock(&tx, block, 96);
                V22RxBlock(&rx, block, 96);
            }
            V22RxSeed(&rx);
            const double truth = (tx.tx.carrier_step - kV22Carrier2400) * 9600.0 / 65536.0;
            EXPECT_NEAR(PresetHz(rx.rx), truth, 0.25) << offsetHz << " Hz, trial " << trial;
        }
    }
}

// Both pumps through the line model (25 dB SNR, echo, skew, delay): each side's preset is within 1.6 Hz
// of the line's offset. (The settling step once restarted the sums every block, so only its last six
// symbols counted, and every call came out about 3 Hz high.)
TEST(V22CarrierEstimate, BothSidesMeasureTheLinesOffset)
{
    for (double delayMs : {0.0, 7.0}) {
        for (double offsetHz : {-12.0, -7.0, 0.0, 7.0, 12.0}) {
            LineSettings s;
            s.offsetHz = offsetHz;
            s.delayMs = delayMs;
            s.skewPpm = 100.0;
            s.echoLossDb = 12.0;
            PumpPair pair(s);
            pair.a.StartV22Mode(7, 1);
            pair.b.StartV22Mode(7, 0);
            V22Modem settled[2];
            bool settling[2] = {false, false};
            bool measured[2] = {false, false};
            for (int i = 0; i < 400 && !(measured[0] && measured[1]); ++i) {
                pair.Step();
                for (int k = 0; k < 2; ++k) {
                    const V22Modem& m = (k == 0 ? pair.a : pair.b).ctx->v22.modem;
                    if (m.rx.control & V22_RX_START_ENERGY) {
                        settling[k] = true;
                        settled[k] = m;
                    } else if (settling[k] && !measured[k]) {
                        // The seed block has run the equaliser, which moves the integrator on: seed a copy
                        // of the receiver as it stood at the end of settling.
                        measured[k] = true;
                        V22RxSeed(&settled[k]);
                        EXPECT_NEAR(PresetHz(settled[k].rx), offsetHz, 1.6)
                            << (k == 0 ? "caller" : "answerer") << ", " << delayMs << " ms";
                    }
                }
            }
            EXPECT_TRUE(measured[0] && measured[1]) << offsetHz << " Hz, " << delayMs << " ms";
        }
    }
}

}  // namespace
