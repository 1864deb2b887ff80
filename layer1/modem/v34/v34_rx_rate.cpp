// The MSE limits of the rate choice.
#include "layer1/modem/v34/v34_rx_rate.h"

#include "layer1/modem/v34/complex_fixed.h"

namespace {

constexpr int32_t X = kV34RateNotAllowed;
constexpr int32_t E = kV34RateEnd;

constexpr int32_t kThresholds[6][kV34RateEntries] = {
    {23962697, 12971726, 7093023, 3529465, 1783491, 932068, 447160, 223908, 111844, E, E, E, E, E},
    {X, 16051419, 9015927, 4932007, 2719676, 1502956, 819200, 447160, 244249, 133214, 72561, E, E, E},
    {X, 16427979, 9335758, 5194129, 2909760, 1629734, 895630, 495494, 273772, 151055, 83226, E, E, E},
    {X, 18756954, 10308526, 6185129, 3529465, 2066900, 1185197, 681535, 391457, 223755, 129114, 73988, E, E},
    {X, 23962697, 10356306, 7093023, 4216917, 2495784, 1502956, 895630, 533137, 316283, 188626, 111844, 66675, E},
    {X, 23962697, 12079596, 8016954, 4932007, 3120491, 1925027, 1183343, 729228, 447160, 276262, 170384, 104238, 70618},
};
constexpr int32_t kNinetyPercent = 1932735282;   // 0.9 in Q31

}  // namespace

const int32_t* V34RateThresholds(int32_t s) { return kThresholds[s >= 0 && s < 6 ? s : 0]; }

uint32_t V34ChoiceMse(uint64_t sum, int32_t trellisField)
{
    const uint64_t shifted = sum >> 4;
    const int32_t mse = static_cast<int32_t>(shifted > 0x7FFFFFFFu ? 0x7FFFFFFFu : shifted);
    return static_cast<uint32_t>(trellisField == 2 ? MulQ31(mse, kNinetyPercent) : mse);
}

int32_t ChooseV34Rate(int32_t s, uint32_t mse)
{
    const int32_t* row = V34RateThresholds(s);
    int32_t i = 0;
    while (i < kV34RateEntries) {
        const int32_t limit = row[i];
        if (limit == kV34RateEnd)
            break;
        if (limit != kV34RateNotAllowed && mse > static_cast<uint32_t>(limit))
            break;
        i += 1;
    }
    return i;
}
