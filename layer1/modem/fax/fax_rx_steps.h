// Steps of the fax receive lists shared between the training (fax_rx_steps.cpp) and data (fax_rx_data.cpp)
// files; each takes the FaxRxState.
#pragma once

void FaxTrain(void* owner);
void FaxRxDataStart(void* owner);
void FaxRxData(void* owner);
void FaxRxEnd(void* owner);
