// Registry: driver access through key handles and path helpers, persistence in the text file, bad files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/machine.h"
#include "platform/registry_store.h"

namespace {

const char* kParams = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Kestrin\\Parameters";

std::string TempFile(const char* name)
{
    return ::testing::TempDir() + "platform_registry_" + std::to_string(getpid()) + "_" + name;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

HANDLE OpenKey(const std::u16string& path, bool create, NTSTATUS* status)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path.c_str());
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE h = nullptr;
    *status = create ? ZwCreateKey(&h, KEY_ALL_ACCESS, &oa, 0, nullptr, 0, nullptr) : ZwOpenKey(&h, KEY_READ, &oa);
    return h;
}

const std::u16string kParamsW = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Kestrin\\Parameters";

TEST(Registry, ValuesSurviveAReopenOfTheFile)
{
    std::string file = TempFile("reopen");
    std::remove(file.c_str());
    std::vector<UCHAR> image(283);
    for (size_t i = 0; i < image.size(); i++) image[i] = static_cast<UCHAR>(i * 7);
    platform::Clock clock;
    {
        platform::Machine m({&clock, "a", file});
        ASSERT_EQ(m.Status(), STATUS_SUCCESS);
        platform::MachineScope scope(m);
        NTSTATUS status;
        HANDLE h = OpenKey(kParamsW, true, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, u"EEProm");
        EXPECT_EQ(ZwSetValueKey(h, &name, 0, REG_BINARY, image.data(), 283), STATUS_SUCCESS);
        ULONG country = 49;
        RtlInitUnicodeString(&name, u"CurrentCountry");
        EXPECT_EQ(ZwSetValueKey(h, &name, 0, REG_DWORD, &country, 4), STATUS_SUCCESS);
        const WCHAR text[] = u"Quoted \"text\" with a back\\slash";
        EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParamsW.c_str(), u"DeviceDesc", REG_SZ,
                                        const_cast<WCHAR*>(text), sizeof(text)),
                  STATUS_SUCCESS);
        // The device map is volatile: it does not survive.
        EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", u"\\Device\\Modem0", REG_SZ,
                                        const_cast<WCHAR*>(u"COM3"), 10),
                  STATUS_SUCCESS);
        std::string value;
        EXPECT_EQ(m.RegQueryString("\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Modem0", &value),
                  STATUS_SUCCESS);
        EXPECT_EQ(value, "COM3");
        ZwClose(h);
    }
    platform::Machine m({&clock, "b", file});
    ASSERT_EQ(m.Status(), STATUS_SUCCESS) << m.Error();
    platform::MachineScope scope(m);
    NTSTATUS status;
    HANDLE h = OpenKey(kParamsW, false, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"eeprom");  // value names are not case sensitive
    std::vector<UCHAR> buffer(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + 283);
    ULONG result = 0;
    ASSERT_EQ(ZwQueryValueKey(h, &name, KeyValuePartialInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                              &result),
              STATUS_SUCCESS);
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer.data());
    EXPECT_EQ(info->Type, static_cast<ULONG>(REG_BINARY));
    ASSERT_EQ(info->DataLength, 283u);
    EXPECT_EQ(std::vector<UCHAR>(info->Data, info->Data + 283), image);
    std::vector<uint8_t> data;
    ULONG type;
    EXPECT_EQ(m.RegQueryValue(kParams, "CurrentCountry", &type, &data), STATUS_SUCCESS);
    EXPECT_EQ(type, static_cast<ULONG>(REG_DWORD));
    EXPECT_EQ(data, (std::vector<uint8_t>{49, 0, 0, 0}));
    std::string text;
    EXPECT_EQ(m.RegQueryString(kParams, "DeviceDesc", &text), STATUS_SUCCESS);
    EXPECT_EQ(text, "Quoted \"text\" with a back\\slash");
    EXPECT_EQ(m.RegQueryString("\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "\\Device\\Modem0", &text),
              STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(h);
    std::remove(file.c_str());
}

TEST(Registry, QueryReportsSizesAndShortBuffers)
{
    platform::Clock clock;
    platform::Machine m({&clock, "q", ""});
    platform::MachineScope scope(m);
    UCHAR data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(m.RegSetValue(kParams, "Blob", REG_BINARY, data, 10), STATUS_SUCCESS);
    NTSTATUS status;
    HANDLE h = OpenKey(kParamsW, false, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Blob");
    const ULONG fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    struct Case {
        ULONG length;
        NTSTATUS status;
    } cases[] = {{0, STATUS_BUFFER_TOO_SMALL}, {fixed - 1, STATUS_BUFFER_TOO_SMALL}, {fixed, STATUS_BUFFER_OVERFLOW},
                 {fixed + 9, STATUS_BUFFER_OVERFLOW}, {fixed + 10, STATUS_SUCCESS}, {fixed + 64, STATUS_SUCCESS}};
    for (const Case& c : cases) {
        std::vector<UCHAR> buffer(fixed + 64, 0xEE);
        ULONG result = 0;
        EXPECT_EQ(ZwQueryValueKey(h, &name, KeyValuePartialInformation, buffer.data(), c.length, &result), c.status)
            << c.length;
        EXPECT_EQ(result, fixed + 10) << c.length;
        if (c.status == STATUS_BUFFER_OVERFLOW) {
            EXPECT_EQ(reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer.data())->DataLength, 10u);
            EXPECT_EQ(buffer[fixed], 0xEE);  // no data copied
        }
    }
    RtlInitUnicodeString(&name, u"Missing");
    ULONG result;
    UCHAR buffer[64];
    EXPECT_EQ(ZwQueryValueKey(h, &name, KeyValuePartialInformation, buffer, sizeof(buffer), &result),
              STATUS_OBJECT_NAME_NOT_FOUND);
    // Enumerate in creation order, then delete.
    ASSERT_EQ(m.RegSetDword(kParams, "Second", 2), STATUS_SUCCESS);
    std::vector<std::string> names;
    for (ULONG i = 0;; i++) {
        alignas(8) UCHAR info[256];
        status = ZwEnumerateValueKey(h, i, KeyValueFullInformation, info, sizeof(info), &result);
        if (status == STATUS_NO_MORE_ENTRIES) break;
        ASSERT_EQ(status, STATUS_SUCCESS);
        auto* full = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(info);
        std::string n;
        for (ULONG k = 0; k < full->NameLength / 2; k++) n += static_cast<char>(full->Name[k]);
        names.push_back(n);
        if (n == "Second") { EXPECT_EQ(info[full->DataOffset], 2); }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Blob", "Second"}));
    RtlInitUnicodeString(&name, u"Blob");
    EXPECT_EQ(ZwDeleteValueKey(h, &name), STATUS_SUCCESS);
    EXPECT_EQ(ZwDeleteValueKey(h, &name), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(RtlDeleteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParamsW.c_str(), u"Second"), STATUS_SUCCESS);
    EXPECT_EQ(m.RegValueNames(kParams).size(), 0u);
    ZwClose(h);
    // A key that does not exist cannot be opened, only created.
    HANDLE missing = OpenKey(u"\\REGISTRY\\MACHINE\\SYSTEM\\Nothing", false, &status);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
}

struct BadFile {
    const char* name;
    std::string text;
    int line;
};

class BadRegistryFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadRegistryFile, GivesAClearErrorAndIsNotOverwritten)
{
    std::string file = TempFile(GetParam().name);
    WriteFile(file, GetParam().text);
    platform::Clock clock;
    {
        platform::Machine m({&clock, "bad", file});
        EXPECT_EQ(m.Status(), STATUS_REGISTRY_CORRUPT);
        EXPECT_NE(m.Error().find(file), std::string::npos) << m.Error();
        EXPECT_NE(m.Error().find("line " + std::to_string(GetParam().line) + ":"), std::string::npos) << m.Error();
        // The machine runs with an empty registry and leaves the user's file alone.
        EXPECT_EQ(m.RegSetDword(kParams, "X", 1), STATUS_SUCCESS);
        EXPECT_TRUE(m.RegValueNames(kParams) == std::vector<std::string>{"X"});
    }
    EXPECT_EQ(ReadFile(file), GetParam().text);
    std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadRegistryFile,
    ::testing::Values(BadFile{"ValueBeforeKey", "\"A\"=dword:1\n", 1},
                      BadFile{"KeyNotClosed", "; c\n[\\REGISTRY\\MACHINE\\X\n", 2},
                      BadFile{"KeyOutsideRegistry", "[\\MACHINE\\X]\n", 1},
                      BadFile{"NoEquals", "[\\REGISTRY\\MACHINE\\X]\n\"A\" dword:1\n", 2},
                      BadFile{"UnclosedName", "[\\REGISTRY\\MACHINE\\X]\n\"A=dword:1\n", 2},
                      BadFile{"BadDword", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=dword:12345678Z\n", 2},
                      BadFile{"LongDword", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=dword:123456789\n", 2},
                      BadFile{"BadHex", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=hex:01,2g\n", 2},
                      BadFile{"HexWithoutCommas", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=hex:0102\n", 2},
                      BadFile{"TrailingComma", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=hex:01,\n", 2},
                      BadFile{"UnknownType", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=qword:1\n", 2},
                      BadFile{"TextAfterQuote", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=\"x\"y\n", 2},
                      BadFile{"BadEscape", "[\\REGISTRY\\MACHINE\\X]\n\"A\"=\"\\n\"\n", 2},
                      BadFile{"NullByte", std::string("[\\REGISTRY\\MACHINE\\X]\n\"A\"=\"a\0b\"\n", 32), 2}),
    [](const ::testing::TestParamInfo<BadFile>& i) { return std::string(i.param.name); });

TEST(Registry, DirectoryInsteadOfFileIsAnError)
{
    platform::Clock clock;
    platform::Machine m({&clock, "dir", ::testing::TempDir()});
    EXPECT_NE(m.Status(), STATUS_SUCCESS);
    EXPECT_FALSE(m.Error().empty());
}

TEST(Registry, RandomTextNeverCrashesAndGoodTextRoundTrips)
{
    const std::string good =
        "[\\REGISTRY\\MACHINE\\SYSTEM\\A]\n\"S\"=\"text \\\\ \\\"q\\\"\"\n\"D\"=dword:0000abcd\n\"B\"=hex:00,ff,10\n"
        "@=hex(7):41,00,00,00\n\n[\\REGISTRY\\MACHINE\\SYSTEM\\Empty]\n";
    const std::string alphabet = "[]\\\"=:,;@#\n\rabcdefx0123456789REGISTRYMACHINE hexdword()";
    std::mt19937 rng(12345);
    for (int i = 0; i < 3000; i++) {
        std::string text = good;
        int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; e++) {
            size_t pos = rng() % (text.size() + 1);
            switch (rng() % 3) {
            case 0: text.insert(pos, 1, alphabet[rng() % alphabet.size()]); break;
            case 1:
                if (pos < text.size()) text.erase(pos, 1);
                break;
            default:
                if (pos < text.size()) text[pos] = static_cast<char>(rng() % 256);
                break;
            }
        }
        platform::RegistryStore store;
        std::string error;
        NTSTATUS status = store.Parse(text, "fuzz", &error);
        if (NT_SUCCESS(status)) {
            // What was accepted is written back in a form that reads the same.
            std::string once = store.Serialize();
            platform::RegistryStore again;
            ASSERT_EQ(again.Parse(once, "again", &error), STATUS_SUCCESS) << error << "\n" << once;
            EXPECT_EQ(again.Serialize(), once);
        } else {
            EXPECT_EQ(status, STATUS_REGISTRY_CORRUPT);
            EXPECT_EQ(error.compare(0, 10, "fuzz line "), 0) << error;
        }
    }
}

}  // namespace
