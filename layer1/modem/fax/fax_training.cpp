// Training generators of the fax modulations.
#include "layer1/modem/fax/fax_training.h"

#include "layer1/modem/common/scrambler23.h"

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

int32_t FaxV27ConditioningStep(uint32_t* reg)
{
    const uint32_t r = *reg;
    const uint32_t v = ((r >> 5) ^ 7u ^ (r >> 6)) & 7u;
    *reg = (r >> 3) | (v << 9);
    return static_cast<int32_t>(v & 1);
}
