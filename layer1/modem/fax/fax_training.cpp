// Training generators of the fax modulations.
#include "layer1/modem/fax/fax_training.h"

#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/fax/fax_tx.h"

int32_t FaxV17TrainingStep(uint32_t* reg)
{
    // Dibit 0, 1, 2, 3 (first bit in bit 0) sends C, B, D, A.
    static const int8_t kDibitPoint[4] = {2, 1, 3, 0};
    return kDibitPoint[Scramble23(reg, 3, 2)];
}

int32_t FaxV29ConditioningStep(uint32_t* reg)
{
    const uint32_t r = *reg;
    const uint32_t bit = (r ^ (r >> 1)) & 1;
    *reg = (r >> 1) | (bit << 6);
    return static_cast<int32_t>(bit);
}

void FaxV27ConditioningStart(uint32_t* history, int32_t* guardCount)
{
    uint32_t h = 0;
    for (int32_t k = 0; k < 12; ++k)
        h |= ((kFaxV27ConditioningPreset >> k) & 1u) << (11 - k);
    *history = h;
    *guardCount = 0;
}

int32_t FaxV27ConditioningStep(uint32_t* history, int32_t* guardCount)
{
    const uint32_t first = FaxV27Scramble(history, guardCount, 1);
    FaxV27Scramble(history, guardCount, 1);
    FaxV27Scramble(history, guardCount, 1);
    return static_cast<int32_t>(first);
}
