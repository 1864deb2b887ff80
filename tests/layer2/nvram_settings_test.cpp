// The settings image, its registry persistence, the country selection and the other registry settings.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/factory_profile.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/cmd/reg_access.h"

using namespace coretest;

namespace {

class Settings : public ::testing::Test {
protected:
    TempRegistry reg;
    std::unique_ptr<CoreMachine> m = std::make_unique<CoreMachine>(reg.Path());
    std::unique_ptr<CoreUnderTest> cut = std::make_unique<CoreUnderTest>();
    CoreSettings* s = cut->S();

    std::vector<uint8_t> RegValue(const char* name)
    {
        ULONG type = 0;
        std::vector<uint8_t> data;
        if (!NT_SUCCESS(m->M().RegQueryValue(ParamsKey(), name, &type, &data)))
            return {};
        return data;
    }
    void SetBinary(const char* name, const std::vector<uint8_t>& data)
    {
        ASSERT_TRUE(NT_SUCCESS(m->M().RegSetValue(ParamsKey(), name, REG_BINARY, data.data(),
                                                   static_cast<ULONG>(data.size()))));
    }
    // Tears the machine down and builds it again on the same registry file, as a restart does.
    void Restart()
    {
        cut.reset();
        m.reset();
        m = std::make_unique<CoreMachine>(reg.Path());
        cut = std::make_unique<CoreUnderTest>();
        s = cut->S();
    }
};

struct Bound {
    std::size_t position;
    std::size_t length;
    int expected;
};

TEST_F(Settings, WriteAndReadAreBoundedWithoutWrapAround)
{
    const Bound cases[] = {
        {280, 3, 0}, {280, 4, 1}, {0, 283, 0},       {0, 284, 1},        {283, 0, 0},
        {284, 0, 1}, {1, ~std::size_t{0}, 1}, {~std::size_t{0}, 2, 1}, {282, 1, 0},
        {283, 71, 1},  // stored profile 2 lies past the image and is always refused
    };
    uint8_t data[300] = {7};
    uint8_t out[300];
    for (const Bound& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.position << "+" << c.length);
        // A refused range is refused before any byte is touched, so the buffers need only fit accepted ones.
        EXPECT_EQ(nv_write(s, c.position, c.length, data), c.expected);
        EXPECT_EQ(nv_read(s, c.position, c.length, out), c.expected);
    }
}

TEST_F(Settings, IdenticalBytesAreNotStoredAgain)
{
    const uint8_t zeros[4] = {};
    EXPECT_EQ(nv_write(s, 10, 4, zeros), 0);
    EXPECT_EQ(s->nv_store_count, 0u);
    EXPECT_TRUE(RegValue("EEProm").empty()) << "nothing was written to the registry";
    const uint8_t digits[3] = {'5', '5', '5'};
    EXPECT_EQ(nv_write(s, 6, 3, digits), 0);
    EXPECT_EQ(s->nv_store_count, 1u);
    std::vector<uint8_t> stored = RegValue("EEProm");
    ASSERT_EQ(stored.size(), NV_SIZE);
    EXPECT_EQ(stored[6], '5');
    EXPECT_EQ(nv_write(s, 6, 3, digits), 0);
    EXPECT_EQ(s->nv_store_count, 1u);
}

TEST_F(Settings, ChecksumOfAnAllZeroImageIsFF)
{
    EXPECT_EQ(nv_checksum(s), 0xFF);
    const uint8_t b[2] = {0x10, 0x20};
    nv_write(s, 200, 2, b);
    EXPECT_EQ(nv_checksum(s), static_cast<uint8_t>(~0x30));
    const uint8_t c = 0x55;
    nv_write(s, 0, 1, &c);  // byte 0 is not part of the sum
    EXPECT_EQ(nv_checksum(s), static_cast<uint8_t>(~0x30));
}

TEST_F(Settings, FactoryInitialisationWritesTheFactoryImage)
{
    const uint8_t keep[2] = {0xAB, 0xCD};
    nv_write(s, NV_TIMING_OFFSET, 2, keep);
    const uint8_t number[5] = {'1', '2', '3', '4', 0};
    nv_write(s, nv_number_offset(2), 5, number);
    nv_factory_init(s, kFactoryProfile, kFactoryProfile, 7, 9);
    const uint8_t* nv = s->nv.bytes;
    EXPECT_EQ(std::memcmp(nv + NV_SIGNATURE, "R4T\0", 4), 0);
    EXPECT_EQ(nv[NV_POWER_UP_PROFILE], 0);
    for (unsigned n = 0; n < 4; ++n)
        EXPECT_EQ(nv[nv_number_offset(n)], 0);
    EXPECT_EQ(nv[130], 0xAB);
    EXPECT_EQ(nv[131], 0xCD);
    const uint8_t line[9] = {7, 0, 9, 120, 90, 9, 10, 10, 10};
    EXPECT_EQ(std::memcmp(nv + NV_LINE_A, line, 9), 0);
    EXPECT_EQ(std::memcmp(nv + NV_PROFILE0, kFactoryProfile, 71), 0);
    EXPECT_EQ(std::memcmp(nv + NV_PROFILE1, kFactoryProfile, 71), 0);
    EXPECT_EQ(nv[NV_CHECKSUM], nv_checksum(s));
    EXPECT_TRUE(nv_image_valid(s));
    EXPECT_EQ(RegValue("EEProm"), std::vector<uint8_t>(nv, nv + NV_SIZE));
    // The factory profile is the 71-byte set of the S-registers' factory values.
    EXPECT_EQ(kFactoryProfile[9], 138);
    EXPECT_EQ(kFactoryProfile[42], 75);
    EXPECT_EQ(kFactoryProfile[70], 2);
}

TEST_F(Settings, NoDeviceRefusesLoadAndStore)
{
    s->device = nullptr;
    EXPECT_EQ(nv_load(s), NV_NO_DEVICE);
    EXPECT_EQ(nv_store(s), NV_NO_DEVICE);
}

TEST_F(Settings, CorruptedImageIsResetOnTheNextStart)
{
    core_settings_load(cut->core.get());
    ASSERT_TRUE(nv_image_valid(s));
    const uint8_t number[4] = {'9', '1', '1', 0};
    nv_write(s, nv_number_offset(1), 4, number);
    uint8_t sum = nv_checksum(s);
    nv_write(s, NV_CHECKSUM, 1, &sum);
    // Corrupt one byte behind the driver's back.
    std::vector<uint8_t> image = RegValue("EEProm");
    image[NV_PROFILE0 + 3] ^= 0x40;
    SetBinary("EEProm", image);

    Restart();
    core_settings_load(cut->core.get());
    EXPECT_TRUE(m->LogHas("settings image invalid"));
    EXPECT_TRUE(nv_image_valid(s));
    EXPECT_EQ(s->nv.bytes[nv_number_offset(1)], 0);
    EXPECT_EQ(s->nv.bytes[NV_PROFILE0 + 3], kFactoryProfile[3]);
    EXPECT_EQ(RegValue("EEProm"), std::vector<uint8_t>(s->nv.bytes, s->nv.bytes + NV_SIZE));
}

TEST_F(Settings, RestartKeepsEverySetting)
{
    core_settings_load(cut->core.get());
    const uint8_t number[8] = {'5', '5', '5', '1', '2', '1', '2', 0};
    nv_write(s, nv_number_offset(3), 8, number);
    uint8_t profile[71];
    std::memcpy(profile, kFactoryProfile, 71);
    profile[0] = 2;  // S0
    nv_write(s, NV_PROFILE1, 71, profile);
    const uint8_t one = 1;
    nv_write(s, NV_POWER_UP_PROFILE, 1, &one);
    uint8_t sum = nv_checksum(s);
    nv_write(s, NV_CHECKSUM, 1, &sum);
    ASSERT_TRUE(country_choose(s, static_cast<unsigned>(country_find_t35(s, 0x04))));  // Germany
    ASSERT_EQ(hook_flash_store(s, 2), REG_OK);
    NvramImage before = s->nv;

    Restart();
    core_settings_load(cut->core.get());
    EXPECT_FALSE(m->LogHas("settings image invalid"));
    EXPECT_EQ(std::memcmp(s->nv.bytes, before.bytes, NV_SIZE), 0);
    EXPECT_EQ(s->current.dial_code, 49);
    EXPECT_EQ(s->current.block, 2);
    EXPECT_EQ(std::memcmp(s->block.bytes, country_builtin_block(2).bytes, COUNTRY_BLOCK_SIZE), 0);
    EXPECT_EQ(s->hook_flash_method, 2);
}

struct BadValue {
    const char* what;
    ULONG type;
    std::vector<uint8_t> data;
};

TEST_F(Settings, BadEEPromGivesDefaultsAndAReason)
{
    const BadValue cases[] = {
        {"truncated", REG_BINARY, std::vector<uint8_t>(10, 0x11)},
        {"oversized", REG_BINARY, std::vector<uint8_t>(NV_SIZE + 40, 0x22)},
        {"one byte long", REG_BINARY, std::vector<uint8_t>(NV_SIZE + 1, 0x33)},
        {"text", REG_SZ, {'g', 0, 'a', 0, 'r', 0, 0, 0}},
    };
    for (const BadValue& c : cases) {
        SCOPED_TRACE(c.what);
        Restart();
        m->M().ClearDebugLog();
        ASSERT_TRUE(NT_SUCCESS(m->M().RegSetValue(ParamsKey(), "EEProm", c.type, c.data.data(),
                                                   static_cast<ULONG>(c.data.size()))));
        EXPECT_EQ(nv_load(s), NV_UNREADABLE);
        EXPECT_EQ(nv_checksum(s), 0xFF) << "the image keeps its content";
        EXPECT_TRUE(m->LogHas("nv_load: EEProm"));
        core_settings_load(cut->core.get());
        EXPECT_TRUE(nv_image_valid(s));
        EXPECT_EQ(std::memcmp(s->nv.bytes + NV_PROFILE0, kFactoryProfile, 71), 0);
    }
}

TEST(SettingsFile, GarbageRegistryFileGivesDefaults)
{
    TempRegistry reg;
    {
        std::ofstream f(reg.Path());
        f << "\x01\x02 this is not a registry\n[[[\nEEProm=zz\n";
    }
    CoreMachine m(reg.Path());
    EXPECT_FALSE(NT_SUCCESS(m.M().Status()));
    CoreUnderTest cut;
    core_settings_load(cut.core.get());
    CoreSettings* s = cut.S();
    EXPECT_TRUE(nv_image_valid(s));
    EXPECT_EQ(s->current.dial_code, 1);
    EXPECT_STREQ(s->device_desc, "Morva(R) Qiv Data Fax Voice V.90 Modem");
    EXPECT_EQ(s->gpio_lpohd, 1);
    EXPECT_EQ(s->v92rptopt, 0);
}

// A country list of `count` entries mapping dialling code 100 + i to block i.
std::vector<uint8_t> MakeList(uint16_t version, uint16_t count, std::size_t size = COUNTRY_LIST_SIZE)
{
    std::vector<uint8_t> l(size, 0);
    l[0] = static_cast<uint8_t>(version);
    l[1] = static_cast<uint8_t>(version >> 8);
    l[2] = static_cast<uint8_t>(count);
    l[3] = static_cast<uint8_t>(count >> 8);
    for (unsigned i = 0; i < count && 4 + 8 * i + 8 <= size && i < 120; ++i) {
        uint8_t* e = l.data() + 4 + 8 * i;
        e[0] = static_cast<uint8_t>(100 + i);
        e[2] = static_cast<uint8_t>(0x40 + i);
        e[3] = static_cast<uint8_t>(i % 15);
        std::memcpy(e + 4, "XYZ", 4);
    }
    return l;
}

struct ListCase {
    const char* what;
    uint16_t version;
    uint16_t count;
    std::size_t size;
    bool taken;
};

TEST_F(Settings, CountryListIsValidatedBeforeUse)
{
    const ListCase cases[] = {
        {"valid", 1, 3, COUNTRY_LIST_SIZE, true},      {"version 2", 2, 3, COUNTRY_LIST_SIZE, false},
        {"count 0", 1, 0, COUNTRY_LIST_SIZE, false},   {"count 121", 1, 121, COUNTRY_LIST_SIZE, false},
        {"count 120", 1, 120, COUNTRY_LIST_SIZE, true}, {"truncated", 1, 3, 100, false},
        {"oversized", 1, 3, COUNTRY_LIST_SIZE + 1, false},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        m->M().ClearDebugLog();
        SetBinary("CountryLst", MakeList(c.version, c.count, c.size));
        country_list_load(s);
        if (c.taken) {
            EXPECT_EQ(country_list_count(s->list), c.count);
        } else {
            EXPECT_EQ(std::memcmp(s->list.bytes, country_builtin_list().bytes, COUNTRY_LIST_SIZE), 0);
            EXPECT_TRUE(m->LogHas("country_list_load: CountryLst"));
        }
    }
}

TEST_F(Settings, CurrentCountrySelection)
{
    // Missing: the default country is written and block 0 is used.
    country_list_load(s);
    country_select(s);
    ULONG type = 0;
    std::vector<uint8_t> v;
    ASSERT_TRUE(NT_SUCCESS(m->M().RegQueryValue(ParamsKey(), "CurrentCountry", &type, &v)));
    EXPECT_EQ(type, static_cast<ULONG>(REG_DWORD));
    EXPECT_EQ(v, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(s->block.bytes, country_builtin_block(0).bytes, COUNTRY_BLOCK_SIZE), 0);

    // A known code selects its country and block.
    ASSERT_TRUE(NT_SUCCESS(m->M().RegSetDword(ParamsKey(), "CurrentCountry", 44)));
    country_select(s);
    EXPECT_STREQ(s->current.iso, "GBR");
    EXPECT_EQ(std::memcmp(s->block.bytes, country_builtin_block(1).bytes, COUNTRY_BLOCK_SIZE), 0);

    // An unknown code keeps the default country and still loads the override of the default index.
    CountryBlock marked = country_builtin_block(0);
    cb_put_u16(marked, CB_DIAL_TONE_WAIT, 1234);
    ASSERT_EQ(country_block_store(s, "KVZ0", &marked), REG_OK);
    ASSERT_TRUE(NT_SUCCESS(m->M().RegSetDword(ParamsKey(), "CurrentCountry", 999)));
    country_select(s);
    EXPECT_STREQ(s->current.iso, "USA");
    EXPECT_EQ(cb_dial_tone_wait_ms(s->block), 1234);
    EXPECT_TRUE(m->LogHas("CurrentCountry 999"));
}

TEST_F(Settings, BlockOverrideIsTakenOnlyWhenWellFormed)
{
    ASSERT_TRUE(NT_SUCCESS(m->M().RegSetDword(ParamsKey(), "CurrentCountry", 49)));
    country_list_load(s);
    struct Case {
        const char* what;
        std::size_t size;
        uint16_t format;
        bool taken;
    } cases[] = {
        {"good", COUNTRY_BLOCK_SIZE, 3, true},
        {"format 2", COUNTRY_BLOCK_SIZE, 2, false},
        {"short", COUNTRY_BLOCK_SIZE - 1, 3, false},
        {"long", COUNTRY_BLOCK_SIZE + 1, 3, false},
        {"tiny", 1, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> v(country_builtin_block(2).bytes, country_builtin_block(2).bytes + COUNTRY_BLOCK_SIZE);
        v.resize(c.size, 0);
        v[0] = static_cast<uint8_t>(c.format);
        if (c.size > CB_SILENCE_TIME + 1)
            v[CB_SILENCE_TIME] = 0x77;
        SetBinary("KVZ2", v);
        country_select(s);
        EXPECT_EQ(s->current.block, 2);
        if (c.taken) {
            EXPECT_EQ(cb_u8(s->block, CB_SILENCE_TIME), 0x77);
        } else {
            EXPECT_EQ(std::memcmp(s->block.bytes, country_builtin_block(2).bytes, COUNTRY_BLOCK_SIZE), 0);
        }
    }
}

TEST_F(Settings, ListEntryPointingPastTheBuiltInBlocksUsesBlock0)
{
    std::vector<uint8_t> l = MakeList(1, 1);
    l[4 + 3] = 40;  // block index 40
    SetBinary("CountryLst", l);
    country_list_load(s);
    country_select(s);
    EXPECT_EQ(s->current.block, 40);
    EXPECT_EQ(std::memcmp(s->block.bytes, country_builtin_block(0).bytes, COUNTRY_BLOCK_SIZE), 0);
}

TEST_F(Settings, IdentificationAndSmallValues)
{
    ident_strings_load(s);
    EXPECT_STREQ(s->device_desc, kDefaultDeviceDesc);
    EXPECT_STREQ(s->mfg, kDefaultMfg);
    EXPECT_STREQ(s->hardware_id, kDefaultHardwareId);
    ASSERT_TRUE(NT_SUCCESS(m->M().RegSetString(ParamsKey(), "DeviceDesc", "Line Two Modem")));
    ASSERT_TRUE(NT_SUCCESS(m->M().RegSetString(ParamsKey(), "Mfg", std::string(65, 'M'))));
    SetBinary("gpio_lpohd", {0});
    SetBinary("v92rptopt", {1, 2});  // wrong size
    ident_strings_load(s);
    EXPECT_STREQ(s->device_desc, "Line Two Modem");
    EXPECT_STREQ(s->mfg, kDefaultMfg) << "a text longer than 64 characters is not taken";
    EXPECT_EQ(s->gpio_lpohd, 0);
    EXPECT_EQ(s->v92rptopt, 0);
    ASSERT_TRUE(NT_SUCCESS(m->M().RegSetString(ParamsKey(), "Mfg", std::string(64, 'M'))));
    ident_strings_load(s);
    EXPECT_EQ(std::strlen(s->mfg), 64u);

    SetBinary("HookFlashMethod", {7, 0});
    hook_flash_load(s);
    EXPECT_EQ(s->hook_flash_method, 0);
    EXPECT_TRUE(m->LogHas("HookFlashMethod"));
    SetBinary("HookFlashMethod", {1, 0});
    hook_flash_load(s);
    EXPECT_EQ(s->hook_flash_method, 1);
}

TEST_F(Settings, QuickConnectDataRoundTripAndLimit)
{
    std::vector<uint8_t> data(QC_DATA_SIZE);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(qc_data_store(s, data.data(), QC_DATA_SIZE), REG_OK);
    std::vector<uint8_t> back(QC_DATA_SIZE, 0xFF);
    ULONG taken = 0;
    EXPECT_EQ(qc_data_load(s, back.data(), QC_DATA_SIZE, &taken), REG_OK);
    EXPECT_EQ(taken, QC_DATA_SIZE);
    EXPECT_EQ(back, data);
    SetBinary("qcData", std::vector<uint8_t>(QC_DATA_SIZE + 1, 1));
    std::fill(back.begin(), back.end(), 0xFF);
    EXPECT_EQ(qc_data_load(s, back.data(), QC_DATA_SIZE, &taken), REG_FAILED);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(back, std::vector<uint8_t>(QC_DATA_SIZE, 0xFF));
}

}  // namespace

namespace {

// With the service key mode on, the country values live under the class key of the device's driver key
// name, while the image stays under the parameters key.
TEST(SettingsServiceKey, DeviceValuesLiveUnderTheClassKey)
{
    TempRegistry reg;
    CoreMachine m(reg.Path());
    platform::DeviceStack* stack = nullptr;
    ASSERT_TRUE(NT_SUCCESS(m.M().AddStack({}, {}, &stack)));
    CoreUnderTest cut(TRUE);
    CoreSettings* s = cut.S();
    s->property_device = m.M().PhysicalDevice(stack);
    std::string class_key = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                            m.M().DriverKeyName(stack);
    char path[512];
    ASSERT_TRUE(reg_key_path(s, REG_KEY_DEVICE, path, sizeof path));
    EXPECT_EQ(std::string(path), class_key);
    ASSERT_TRUE(NT_SUCCESS(m.M().RegSetDword(class_key, "CurrentCountry", 33)));
    ASSERT_TRUE(NT_SUCCESS(m.M().RegSetDword(ParamsKey(), "CurrentCountry", 49)));
    core_settings_load(cut.core.get());
    EXPECT_STREQ(s->current.iso, "FRA");
    ULONG type = 0;
    std::vector<uint8_t> image;
    EXPECT_TRUE(NT_SUCCESS(m.M().RegQueryValue(ParamsKey(), "EEProm", &type, &image)));
    EXPECT_EQ(image.size(), NV_SIZE);
    ASSERT_TRUE(hook_flash_store(s, 1) == REG_OK);
    std::vector<uint8_t> method;
    EXPECT_TRUE(NT_SUCCESS(m.M().RegQueryValue(class_key, "HookFlashMethod", &type, &method)));
    EXPECT_EQ(method, (std::vector<uint8_t>{1, 0}));
    m.M().RemoveStack(stack);
}

}  // namespace
