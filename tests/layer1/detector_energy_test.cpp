// Detector mode 0's ring energy reports (0xD1) and the detector configuration command.
#include <gtest/gtest.h>

#include "tests/layer1/detector_fixture.h"

namespace {

using namespace dettest;

// Ringing as the card sees it: pulses of `width` high samples every `spacing` samples for `onMs`, then
// `offMs` of quiet, repeated.
std::vector<int16_t> Ringing(size_t spacing, size_t width, size_t onMs, size_t offMs, int bursts)
{
    std::vector<int16_t> out;
    out.resize(4800, 0);
    for (int b = 0; b < bursts; ++b) {
        const size_t on = onMs * 96 / 10;
        for (size_t i = 0; i < on; ++i)
            out.push_back(i % spacing < width ? 20000 : 300);
        out.resize(out.size() + offMs * 96 / 10, 0);
    }
    out.resize((out.size() / kBlock) * kBlock, 0);
    return out;
}

struct Report {
    uint16_t kind, stamp, value;
};

std::vector<Report> Reports(const Observed& o)
{
    std::vector<Report> out;
    for (const Event& e : o.events) {
        if (e.code != IcdDetectorReport)
            continue;
        EXPECT_EQ(e.payload.size(), 6u);
        if (e.payload.size() < 6)
            continue;
        out.push_back(Report{static_cast<uint16_t>(e.payload[0] | e.payload[1] << 8),
                             static_cast<uint16_t>(e.payload[2] | e.payload[3] << 8),
                             static_cast<uint16_t>(e.payload[4] | e.payload[5] << 8)});
    }
    return out;
}

// Elapsed time between two stamps as the controller computes it (the stamps wrap at 6827 ms).
int Elapsed(uint16_t from, uint16_t to)
{
    return to > from ? to - from : to + 6827 - from;
}

// Each ring burst gives a start report {1, stamp, 0} and an end report {1, stamp, pulse count}: the count
// over the elapsed time is the pulse rate, and the starts are one cadence apart across the stamp wrap.
TEST(EnergyReports, OneStartAndEndPerRingBurst)
{
    DetectorBench b;
    b.Mode(0, 1);
    const std::vector<Report> r = Reports(b.Run(Ringing(240, 20, 2000, 4000, 3)));
    ASSERT_EQ(r.size(), 6u);
    for (size_t k = 0; k < r.size(); k += 2) {
        EXPECT_EQ(r[k].kind, 1);
        EXPECT_EQ(r[k].value, 0);
        EXPECT_EQ(r[k + 1].kind, 1);
        const int d = Elapsed(r[k].stamp, r[k + 1].stamp);
        EXPECT_NEAR(d, 2000, 80);
        EXPECT_NEAR(r[k + 1].value * 1000.0 / d, 40.0, 2.0);  // pulses per second
        if (k > 0) {
            EXPECT_NEAR(Elapsed(r[k - 2].stamp, r[k].stamp), 6000, 2);
        }
    }
}

// Pulses closer than 51 samples or 900 samples apart or more are no ringing; without the report flag nothing
// is reported either.
TEST(EnergyReports, NothingForOtherPulseTrains)
{
    struct Case {
        size_t spacing;
        uint8_t flags;
    } cases[] = {{40, 1}, {1000, 1}, {240, 0}};
    for (const Case& c : cases) {
        DetectorBench b;
        b.Mode(0, c.flags);
        EXPECT_TRUE(Reports(b.Run(Ringing(c.spacing, 10, 2000, 2000, 2))).empty()) << c.spacing;
    }
}

// 0x65 is acknowledged; modes 0-2 put the detector step on sequencer B and set the mode state, any other
// mode changes nothing.
TEST(ConfigDetectors, SelectsModesZeroToTwoOnly)
{
    DetectorBench b;
    for (uint8_t mode : {0, 1, 2}) {
        EXPECT_EQ(b.Reply(0x65, {mode, 1}), (Bytes{0xC0, 0, 1, 0, 0x65}));
        EXPECT_EQ(b.context->modeState, mode);
        EXPECT_EQ(b.context->seqB.list, kDetectorList);
    }
    b.Send(0x60, {0});
    EXPECT_EQ(b.Reply(0x65, {7, 1}), (Bytes{0xC0, 0, 1, 0, 0x65}));
    EXPECT_EQ(b.context->modeState, -1);
    EXPECT_NE(b.context->seqB.list, kDetectorList);
}

}  // namespace
