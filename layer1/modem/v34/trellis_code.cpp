// The trellis codes by their parity-check polynomials (octal): h0 over Y0 and one polynomial over each coded
// bit of w. Each code satisfies sum_i h_i(D) y_i(D) = 0; the observer form (StepTables::Step) keeps the partial sums of the
// check in the state, so the parity bit due next is its bit 0. The 32-state code leaves bit 2 of w uncoded:
// its transitions from states 0-3 are the fixed rows the library's add-compare-select assumes. Free squared
// distances on the V.34 lattice labelling: 4, 4 and 5 times the grid's (the test computes them).
#include "layer1/modem/v34/trellis_code.h"

namespace {

struct ParityCheck {
    int32_t states;
    uint32_t h0;
    uint32_t h[4];    // the polynomial over bit i of w (0: the bit is uncoded)
    uint32_t coded;   // mask of the coded bits of w
};

constexpr ParityCheck kCodes[3] = {
    {16, 021, {002, 014, 0, 0}, 0x3},
    {32, 041, {010, 022, 0, 004}, 0xB},
    {64, 0101, {0002, 0014, 0030, 0050}, 0xF},
};

const ParityCheck& CodeOf(int32_t states)
{
    return states >= 64 ? kCodes[2] : (states >= 32 ? kCodes[1] : kCodes[0]);
}

// The step of the observer form for every state and label of each code, built once.
struct StepTables {
    uint8_t next[3][64][16];
    constexpr StepTables() : next()
    {
        for (int32_t c = 0; c < 3; ++c)
            for (uint32_t s = 0; s < 64; ++s)
                for (uint32_t w = 0; w < 16; ++w)
                    next[c][s][w] = Step(kCodes[c], s, w);
    }
    static constexpr uint8_t Step(const ParityCheck& code, uint32_t state, uint32_t label)
    {
        const uint32_t mask = static_cast<uint32_t>(code.states) - 1u;
        uint32_t s = state & mask;
        uint32_t next = s >> 1;
        if ((s & 1u) != 0)
            next ^= code.h0 >> 1;
        for (int32_t i = 0; i < 4; ++i) {
            if (((label >> i) & 1u) != 0)
                next ^= code.h[i] >> 1;
        }
        return static_cast<uint8_t>(next & mask);
    }
};
constexpr StepTables kSteps;

}  // namespace

uint32_t TrellisCodedMask(int32_t states) { return CodeOf(states).coded; }

uint8_t TrellisNextState(uint8_t state, int32_t states, uint32_t label)
{
    const int32_t c = states >= 64 ? 2 : (states >= 32 ? 1 : 0);
    return kSteps.next[c][state & 63u][label & 15u];
}

