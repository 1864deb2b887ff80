// Channel choice of the FSK modem: the records, the polarity and the carrier-detect count of the receiver.
#include "layer1/modem/fsk/fsk_state.h"

namespace {

// Bits at a qualifying level before the carrier counts as on: about 25 ms, and at least 3 bits.
int32_t RequiredCount(int32_t rxId)
{
    switch (rxId) {
    case FSK_V23_BACKWARD: return 3;
    case FSK_V23_600: return 15;
    case FSK_V23_1200: return 30;
    default: return 8;
    }
}

}  // namespace

void FskSelectChannels(FskState* fsk, int32_t txId, int32_t rxId)
{
    fsk->tx = FskTxChannelOf(txId);
    fsk->rx = FskRxChannelOf(rxId);
    fsk->txId = txId;
    fsk->rxId = rxId;
    fsk->polarity = FskPolarityOf(rxId);
    fsk->demod.requiredCount = RequiredCount(rxId);
}
