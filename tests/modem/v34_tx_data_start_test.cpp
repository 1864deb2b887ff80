// Data-mode start of the V.34 transmitter: the trellis code the MP exchange agreed, and the code field 3
// (128 states, which no encoder has) falling back to 16 states.
#include <gtest/gtest.h>

#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_tx_steps.h"

namespace {

TEST(V34TxDataStart, TrellisFieldChoosesTheCodeAndThreeFallsBackToSixteenStates)
{
    static V34Pump p;
    const int expected[4] = {16, 32, 64, 16};
    for (unsigned field = 0; field < 4; ++field) {
        p = V34Pump{};
        p.caller = 1;
        p.rateIndex = 5;
        p.symbolRate = V34SymbolRate(5);
        p.rateCodes[0] = p.rateCodes[1] = 14;
        p.tx.polynomial = 1;
        p.tx.mp.shaping = 1;
        p.tx.mp.trellis = field;
        p.tx.framePosition = 8;
        TxDataStart(&p);
        EXPECT_EQ(p.tx.encoder.trellisStates, expected[field]) << "field " << field;
        EXPECT_EQ(p.tx.count, 1) << "the first data symbol";
        // The encoder's state stays within the code it runs.
        for (int n = 0; n < 40; ++n) {
            p.tx.count = 0;
            TxDataFirstFrame(&p);
        }
        EXPECT_LT(p.tx.encoder.trellisState, expected[field]);
    }
}

}  // namespace
