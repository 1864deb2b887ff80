// Stored profiles through the serial device: the &F/&V listing, &W and Z, &Y, &Z, and the loads on a bare
// command side (the kept DTE format, the non-volatile reset values).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "acu_side.h"
#include "at_fixture.h"
#include "core_fixture.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/factory_profile.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/cmd/profile.h"
#include "layer2/corecode/dte/dte.h"

using attest::AtStack;
using attest::Visible;

namespace {

const std::string kBlank36(36, ' ');

std::string FactoryListing(const std::string& stored_header = "STORED PROFILE 0:")
{
    return "\r\n\r\nACTIVE PROFILE:\r\n"
           "E1 L2 M1 T Q0 V1 W0 X4 Y0 &C1 &D2 &G0 &J0 &K3 &P0 &S0 &Y0 \r\n"
           "%A013 %C1 %E1 \\A3 \\C0 \\G0 \\J0 \\T000 \\X0 -J1 \r\n"
           "S00:000 S01:000 S02:043 S03:013 S04:010 S05:008 S06:002 S07:060 S08:002 \r\n"
           "S09:006 S10:014 S11:070 S12:050 S18:000 S25:005 S27:064 S32:032 S33:010 \r\n"
           "+ES=003,000,002 +DS=003,000 \r\n\r\n" +
           stored_header + "\r\n"
           "E1 L2 M1 T Q0 V1 W0 X4 Y0 &C1 &D2 &G0 &J0 &K3 &P0 &S0 \r\n"
           "%A013 %C1 %E1 \\A3 \\C0 \\G0 \\J0 \\T000 \\X0 -J1 \r\n"
           "S00:000 S02:043 S06:002 S07:060 S08:002 S09:006 S10:014 S11:070 S12:050 \r\n"
           "S14:138 S18:000 S21:048 S22:118 S23:048 S25:005 S27:064 S30:000 S32:032 \r\n"
           "S33:010 +ES=003,000,002 +DS=003,000 \r\n\r\n"
           "TELEPHONE NUMBERS:\r\n"
           "&Z0 =" + kBlank36 + "&Z1 =\r\n"
           "&Z2 =" + kBlank36 + "&Z3 =\r\n"
           "\r\nOK\r\n";
}

TEST(AtProfileTest, FactoryListingExactly)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    EXPECT_EQ(Visible(s.Dialogue("AT&F\r")), Visible("AT&F\r\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT&V\r", 1500)), Visible("AT&V\r" + FactoryListing()));
    EXPECT_EQ(Visible(s.Dialogue("AT&V1\r", 1500)), Visible("AT&V1\r" + FactoryListing("STORED PROFILE 1:")));
    EXPECT_EQ(Visible(s.Dialogue("AT&V2\r")), Visible("AT&V2\r\r\nERROR\r\n"));
}

TEST(AtProfileTest, ListingFollowsTheActiveAndStoredSettings)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    // Stored profile 0 gets \N2's +ES values; the active settings go back to \N3's afterwards.
    for (const char* line : {"AT\\N2S7=45&W0\r", "AT\\N3P&D3X1L0&Z2=555-1212\r", "AT&Y1\r"})
        EXPECT_EQ(Visible(s.Dialogue(line)), Visible(std::string(line) + "\r\nOK\r\n"));
    std::string v = s.Dialogue("AT&V\r", 1500);
    EXPECT_NE(v.find("E1 L0 M1 P Q0 V1 W0 X1 Y0 &C1 &D3 &G0 &J0 &K3 &P0 &S0 &Y1 \r\n"), std::string::npos) << Visible(v);
    EXPECT_NE(v.find("S07:045 S08:002 \r\nS09"), std::string::npos) << Visible(v);
    EXPECT_NE(v.find("\r\n+ES=003,000,002 +DS=003,000 \r\n\r\nSTORED PROFILE 0:\r\n"
                     "E1 L2 M1 T Q0 V1 W0 X4 Y0 &C1 &D2 "),
              std::string::npos)
        << Visible(v);
    // The stored profile shows its own +ES values, not the active ones.
    EXPECT_NE(v.find("S33:010 +ES=004,004,006 +DS=003,000 \r\n"), std::string::npos) << Visible(v);
    EXPECT_NE(v.find("&Z2 =5551212" + std::string(36 - 7, ' ') + "&Z3 =\r\n"), std::string::npos) << Visible(v);
}

TEST(AtProfileTest, StoredNumbers)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    const std::string thirty(30, '9');
    struct Case {
        std::string line;
        const char* result;
        int number;        // slot that changes (-1 none)
        std::string kept;
    };
    const Case cases[] = {
        {"AT&Z2=555-1212", "OK", 2, "5551212"},
        {"AT&Z=12", "OK", 0, "12"},
        {"AT&Z0=34", "OK", 0, "34"},
        {"AT&Z0001=T9,W*#", "OK", 1, "T9,W*#"},
        {"AT&Z3=" + thirty, "OK", 3, thirty},
        {"AT&Z3=" + thirty + "1", "ERROR", -1, ""},  // 31 characters do not fit the slot
        {"AT&Z1=(555) 12 34 XYZ", "OK", 1, "5551234"},
        {"AT&Z1=", "OK", 1, ""},
        {"AT&Z4=1", "ERROR", -1, ""},
        {"AT&Z1", "ERROR", -1, ""},
        {"AT&Z1:5", "ERROR", -1, ""},
        {"AT&Z", "ERROR", -1, ""},
    };
    CoreSettings* st = s.Acu()->settings;
    for (const Case& c : cases) {
        uint8_t before[NV_SIZE];
        std::memcpy(before, st->nv.bytes, NV_SIZE);
        std::string sent = c.line + "\r";
        EXPECT_EQ(Visible(s.Dialogue(sent)), Visible(sent + "\r\n" + c.result + "\r\n")) << c.line;
        for (int n = 0; n < 4; ++n) {
            const char* slot = reinterpret_cast<const char*>(st->nv.bytes + nv_number_offset(n));
            if (n == c.number)
                EXPECT_EQ(std::string(slot), c.kept) << c.line;
            else
                EXPECT_EQ(std::memcmp(slot, before + nv_number_offset(n), NV_NUMBER_SIZE), 0) << c.line << " " << n;
        }
        EXPECT_EQ(st->nv.bytes[NV_TIMING_OFFSET], before[NV_TIMING_OFFSET]) << c.line;
        EXPECT_TRUE(nv_image_valid(st)) << c.line;
    }
}

TEST(AtProfileTest, StoreResetAndPowerUpChoice)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    const char* steps[][2] = {
        {"AT&F S7=45 X2 &W1\r", "OK"},
        {"AT&F\r", "OK"},
        {"ATS7?\r", "060"},
        {"ATZ1\r", "OK"},
        {"ATS7?\r", "045"},
        {"ATZ\r", "OK"},   // profile 0 is still the factory one
        {"ATS7?\r", "060"},
        {"AT&W2\r", "ERROR"},
        {"AT&Y2\r", "ERROR"},
        {"AT&Y1\r", "OK"},
    };
    for (const auto& step : steps) {
        std::string out = s.Dialogue(step[0]);
        EXPECT_NE(out.find(std::string("\r\n") + step[1] + "\r\n"), std::string::npos)
            << step[0] << " -> " << Visible(out);
    }
    const CoreSettings* st = s.Acu()->settings;
    EXPECT_EQ(st->nv.bytes[NV_POWER_UP_PROFILE], 1);
    EXPECT_EQ(st->nv.bytes[NV_PROFILE1 + 3], 45);
    EXPECT_EQ(st->nv.bytes[NV_PROFILE1 + 20], 2);
    EXPECT_TRUE(nv_image_valid(st));
}

using Side = attest::AcuSide;

TEST(AtProfileTest, ReloadKeepsTheDteRateAndFormatOnlyWhenAsked)
{
    Side s;
    AcuContext* a = s.acu.get();
    at_nvram_reset(a);
    a->set.dte_rate = 57600;
    a->set.dte_format[0] = 7;
    a->sreg[23] = static_cast<uint8_t>((a->sreg[23] & ~0x30) | 0x20);
    a->sreg[7] = 45;
    at_store_profile(a, 1);
    ASSERT_EQ(a->command_error, 0);
    // The stored rate bytes (low, middle, high) are those of 57600.
    EXPECT_EQ(s.settings->nv.bytes[NV_PROFILE1 + 41], 0x00);
    EXPECT_EQ(s.settings->nv.bytes[NV_PROFILE1 + 42], 0xE1);
    EXPECT_EQ(s.settings->nv.bytes[NV_PROFILE1 + 43], 0x00);
    a->set.dte_rate = 9600;
    a->set.dte_format[0] = 3;
    a->sreg[23] &= static_cast<uint8_t>(~0x30);
    a->sreg[7] = 60;
    at_load_profile(a, 1, true);
    EXPECT_EQ(a->sreg[7], 45);
    EXPECT_EQ(a->set.dte_rate, 9600u);
    EXPECT_EQ(a->set.dte_format[0], 3);
    EXPECT_EQ(a->sreg[23] & 0x30, 0);
    EXPECT_EQ(a->set.high_rate, 1);
    at_load_profile(a, 1, false);
    EXPECT_EQ(a->set.dte_rate, 57600u);
    EXPECT_EQ(a->set.dte_format[0], 7);
    EXPECT_EQ(a->sreg[23] & 0x30, 0x20);
    EXPECT_EQ(a->set.parity_type, 1) << "S23 parity 2 gives parity type 1";
    // Profile 2 lies past the image: refused, nothing changed.
    a->sreg[7] = 33;
    a->command_error = 0;
    at_load_profile(a, 2, false);
    EXPECT_EQ(a->command_error, 1);
    EXPECT_EQ(a->sreg[7], 33);
}

TEST(AtProfileTest, BadImageGetsTheNonVolatileResetValues)
{
    Side s;
    AcuContext* a = s.acu.get();
    CoreSettings* st = s.settings.get();
    struct Damage {
        const char* what;
        std::size_t offset;
    } damages[] = {{"checksum", NV_CHECKSUM}, {"signature", NV_SIGNATURE + 1}, {"profile byte", NV_PROFILE0 + 3}};
    for (const Damage& d : damages) {
        at_nvram_reset(a);
        a->sreg[81] = 1;
        a->sreg[91] = 2;
        a->sreg[7] = 45;
        st->nv.bytes[NV_TX_PARAMS] = 3;
        st->nv.bytes[d.offset] ^= 0x5A;
        at_power_up_profile(a);
        EXPECT_TRUE(nv_image_valid(st)) << d.what;
        EXPECT_EQ(a->sreg[7], 60) << d.what;
        const uint8_t expect[6] = {120, 90, 9, 10, 10, 10};
        EXPECT_EQ(std::memcmp(st->nv.bytes + NV_TX_PARAMS, expect, 6), 0) << d.what;
        EXPECT_EQ(std::memcmp(&a->sreg[81], expect, 3), 0) << d.what;
        EXPECT_EQ(std::memcmp(&a->sreg[91], expect + 3, 3), 0) << d.what;
        // Both profiles hold the factory settings (with the extended factory values, e.g. +EB length 30).
        for (unsigned k = 0; k < PROFILE_SIZE; ++k) {
            const uint8_t f = k == 50 ? 30 : kFactoryProfile[k];
            EXPECT_EQ(st->nv.bytes[NV_PROFILE0 + k], f) << d.what << " byte " << k;
            EXPECT_EQ(st->nv.bytes[NV_PROFILE1 + k], f) << d.what << " byte " << k;
        }
    }
    // A good image loads its power-up profile, with the level registers from the image.
    a->sreg[7] = 50;
    at_store_profile(a, 1);
    const uint8_t one = 1;
    nv_write(st, NV_POWER_UP_PROFILE, 1, &one);
    st->nv.bytes[NV_TX_LEVELS] = 4;
    const uint8_t sum = nv_checksum(st);
    nv_write(st, NV_CHECKSUM, 1, &sum);
    a->sreg[7] = 60;
    at_power_up_profile(a);
    EXPECT_EQ(a->sreg[7], 50);
    EXPECT_EQ(a->sreg[91], 4);
}

TEST(AtProfileTest, LineLevelFromTheCountryAndTheLevelRegisters)
{
    Side s;
    AcuContext* a = s.acu.get();
    uint8_t* r = s.settings->block.bytes;
    r[0] = 0;
    r[2] = 2;
    r[4] = 3;
    r[15] = 20;
    r[16] = 30;
    const uint8_t regs[][2] = {{81, 1}, {82, 5}, {83, 4}, {91, 2}, {92, 20}, {93, 6}};
    for (const auto& reg : regs)
        a->sreg[reg[0]] = reg[1];
    // Level words of 0 to -16 dB: high byte normally, low byte for the alternate form.
    const struct {
        unsigned kind;
        uint8_t normal;
        uint8_t alternate;
    } cases[] = {
        {0, 3, 7},          // base + S81 / + S82, no table
        {1, 0x31, 0xBA},    // 2 + S83 = 6 -> 12730
        {3, 0x0F, 0xBB},    // 0 + S92 = 20, limited to 16 -> 4027
        {4, 0x23, 0x34},    // 3 + S93 = 9 -> 9012
        {5, 250, 230},      // (3 + 30 limited to 25) x 10; (3 + 20) x 10
        {2, 0x4E, 0xCF},    // any other kind: 0 + S91 = 2 -> 20175
        {9, 0x4E, 0xCF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(at_line_level(a, c.kind, false), c.normal) << c.kind;
        EXPECT_EQ(at_line_level(a, c.kind, true), c.alternate) << c.kind;
    }
    a->settings = nullptr;
    EXPECT_EQ(at_line_level(a, 1, false), 0);
}

}  // namespace
