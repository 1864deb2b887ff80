// The built-in countries, one row per built-in block (block index = row). Block 0 is the default country.
#include "layer2/corecode/cmd/country_specs.h"

#include "layer2/corecode/cmd/country_builtin.h"

namespace {

// Shorthands for the signal descriptions: continuous, and cadenced with up to four on/off pairs.
constexpr CountrySignalSpec cont(uint16_t f1, uint16_t f2 = 0, uint8_t level = 13)
{
    return CountrySignalSpec{f1, f2, 0, level, 0, {}};
}
constexpr CountrySignalSpec cad(uint16_t f1, uint16_t f2, uint8_t level, uint16_t on1, uint16_t off1,
                                uint16_t on2 = 0, uint16_t off2 = 0, uint16_t on3 = 0, uint16_t off3 = 0)
{
    uint8_t pairs = on3 ? 3 : (on2 ? 2 : 1);
    return CountrySignalSpec{f1, f2, 0, level, pairs, {on1, off1, on2, off2, on3, off3, 0, 0}};
}
constexpr CountrySignalSpec modulated(CountrySignalSpec s)
{
    s.modulated = 1;
    return s;
}

constexpr CountryCwSpec cw1(uint16_t lo, uint16_t hi) { return CountryCwSpec{1, 1, 1, {lo, hi, 0, 0}}; }
constexpr CountryCwSpec cw2(uint16_t lo, uint16_t hi, uint16_t lo2, uint16_t hi2)
{
    return CountryCwSpec{1, 2, 1, {lo, hi, lo2, hi2}};
}
constexpr CountryCwSpec cas() { return CountryCwSpec{2, 1, 0, {60, 100, 0, 0}}; }  // 2130+2750 Hz alert

// European networks commonly limit automatic repeat attempts to an unreachable number.
#define EU_RESTRICT 12, 4, 1, 3600, {0, 5, 60, 60}
#define NO_RESTRICT 0, 0, 0, 0, {0, 0, 0, 0}
// Wait for carrier limited to 60 s where repeat-attempt rules apply.
#define EU_SREGS 1, {{7, 60, 1, 60, 255, 0}}

// clang-format off
const CountrySpec specs[COUNTRY_BUILTIN_BLOCKS] = {
    // 0 North America: precise tones; 10 pps pulses 61/39 break/make; flash 600 ms.
    {1, 0xB5, "USA", "USA", 1, 1, 5000, 5000, 70, 70, 60, 80, 39, 61, 700, 600,
     cont(350, 440, 13), cad(480, 620, 24, 500, 500), cad(480, 620, 24, 250, 250),
     cad(440, 480, 19, 2000, 4000), cad(20, 0, 0, 2000, 4000),
     NO_RESTRICT, 0, {}, 2, {cw1(250, 350), cas()}},
    // 1 United Kingdom: dial 350+440; busy 400 0.375/0.375; equipment engaged 400 cadence; ringback
    // 400+450 double; pulses 67/33; timed-break recall 100 ms.
    {44, 0xB4, "GBR", "United Kingdom", 1, 1, 5000, 5000, 100, 100, 90, 110, 33, 67, 800, 100,
     cont(350, 440, 22), cad(400, 0, 20, 375, 375), cad(400, 0, 20, 400, 350, 225, 525),
     cad(400, 450, 19, 400, 200, 400, 2000), cad(25, 0, 0, 400, 200, 400, 2000),
     NO_RESTRICT, 0, {}, 1, {cw1(80, 120)}},
    // 2 Germany: 425 Hz; busy 0.48/0.48; congestion 0.24/0.24; ringback 1/4; pulses 60/40; flash 90 ms.
    {49, 0x04, "DEU", "Germany", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 90,
     cont(425, 0, 10), cad(425, 0, 10, 480, 480), cad(425, 0, 10, 240, 240),
     cad(425, 0, 10, 1000, 4000), cad(25, 0, 0, 1000, 4000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
    // 3 France: 440 Hz; busy 0.5/0.5; ringback 1.5/3.5; ringing 50 Hz 1.5/3.5; flash 270 ms.
    {33, 0x3D, "FRA", "France", 1, 1, 5000, 5000, 80, 80, 90, 110, 33, 67, 800, 270,
     cont(440, 0, 10), cad(440, 0, 10, 500, 500), cad(440, 0, 10, 250, 250),
     cad(440, 0, 10, 1500, 3500), cad(50, 0, 0, 1500, 3500),
     EU_RESTRICT, EU_SREGS, 1, {cw1(250, 350)}},
    // 4 Italy: 425 Hz; dial tone cadenced 0.2/0.2/0.6/1.0; busy 0.5/0.5; congestion 0.2/0.2; ringback 1/4.
    {39, 0x59, "ITA", "Italy", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 100,
     cad(425, 0, 10, 200, 200, 600, 1000), cad(425, 0, 10, 500, 500), cad(425, 0, 10, 200, 200),
     cad(425, 0, 10, 1000, 4000), cad(25, 0, 0, 1000, 4000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(350, 450, 150, 250)}},
    // 5 Spain: 425 Hz; busy 0.2/0.2; congestion 0.2/0.2/0.2/0.2/0.2/0.6; ringback 1.5/3.
    {34, 0xA0, "ESP", "Spain", 1, 1, 5000, 5000, 80, 80, 90, 110, 33, 67, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 200, 200), cad(425, 0, 10, 200, 200, 200, 200, 200, 600),
     cad(425, 0, 10, 1500, 3000), cad(25, 0, 0, 1500, 3000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
    // 6 Netherlands: 425 Hz; busy 0.5/0.5; congestion 0.25/0.25; ringback 1/4.
    {31, 0x7B, "NLD", "Netherlands", 1, 1, 5000, 5000, 80, 80, 90, 110, 33, 67, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 500, 500), cad(425, 0, 10, 250, 250),
     cad(425, 0, 10, 1000, 4000), cad(25, 0, 0, 1000, 4000),
     EU_RESTRICT, EU_SREGS, 1, {cw1(450, 550)}},
    // 7 Sweden: 425 Hz; busy 0.25/0.25; congestion 0.25/0.75; ringback 1/5.
    {46, 0xA5, "SWE", "Sweden", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 250, 250), cad(425, 0, 10, 250, 750),
     cad(425, 0, 10, 1000, 5000), cad(25, 0, 0, 1000, 5000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 450, 550)}},
    // 8 Switzerland: 425 Hz; busy 0.5/0.5; congestion 0.2/0.2; ringback 1/4.
    {41, 0xA6, "CHE", "Switzerland", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 500, 500), cad(425, 0, 10, 200, 200),
     cad(425, 0, 10, 1000, 4000), cad(25, 0, 0, 1000, 4000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
    // 9 Austria: 420 Hz; busy 0.4/0.4; congestion 0.2/0.2; ringback 1/5.
    {43, 0x0A, "AUT", "Austria", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 100,
     cont(420, 0, 10), cad(420, 0, 10, 400, 400), cad(420, 0, 10, 200, 200),
     cad(420, 0, 10, 1000, 5000), cad(25, 0, 0, 1000, 5000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
    // 10 Belgium: 425 Hz; busy 0.5/0.5; congestion 0.167/0.167; ringback 1/3.
    {32, 0x0F, "BEL", "Belgium", 1, 1, 5000, 5000, 80, 80, 90, 110, 33, 67, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 500, 500), cad(425, 0, 10, 167, 167),
     cad(425, 0, 10, 1000, 3000), cad(25, 0, 0, 1000, 3000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
    // 11 Japan: 400 Hz; busy 0.5/0.5; ringback 400 Hz modulated by 16 Hz, 1/2; ringing 16 Hz 1/2.
    {81, 0x00, "JPN", "Japan", 1, 1, 5000, 5000, 80, 80, 60, 80, 33, 67, 700, 100,
     cont(400, 0, 13), cad(400, 0, 13, 500, 500), cad(400, 0, 13, 500, 500),
     modulated(cad(400, 16, 13, 1000, 2000)), cad(16, 0, 0, 1000, 2000),
     NO_RESTRICT, 0, {}, 1, {cw2(50, 150, 50, 150)}},
    // 12 Australia: dial 425 Hz modulated by 25 Hz; busy 0.375/0.375; congestion 0.375/0.375; ringback
    // 400+450 0.4/0.2/0.4/2.0.
    {61, 0x09, "AUS", "Australia", 1, 1, 5000, 5000, 80, 80, 90, 110, 33, 67, 800, 100,
     modulated(cont(425, 25, 13)), cad(425, 0, 13, 375, 375), cad(425, 0, 23, 375, 375),
     cad(400, 450, 13, 400, 200, 400, 2000), cad(25, 0, 0, 400, 200, 400, 2000),
     NO_RESTRICT, 0, {}, 1, {cw1(150, 250)}},
    // 13 Denmark: 425 Hz; busy 0.25/0.25; congestion 0.25/0.25; ringback 1/4.
    {45, 0x31, "DNK", "Denmark", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 250, 250), cad(425, 0, 10, 250, 250),
     cad(425, 0, 10, 1000, 4000), cad(25, 0, 0, 1000, 4000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
    // 14 Norway: 425 Hz; busy 0.5/0.5; congestion 0.2/0.2; ringback 1/4.
    {47, 0x82, "NOR", "Norway", 1, 1, 5000, 5000, 80, 80, 90, 110, 40, 60, 800, 100,
     cont(425, 0, 10), cad(425, 0, 10, 500, 500), cad(425, 0, 10, 200, 200),
     cad(425, 0, 10, 1000, 4000), cad(25, 0, 0, 1000, 4000),
     EU_RESTRICT, EU_SREGS, 1, {cw2(150, 250, 150, 250)}},
};
// clang-format on

}  // namespace

const CountrySpec* country_specs()
{
    return specs;
}
