// The argument scanners case by case, and random lines through the scanners, the line preparation and the
// parser with every table registered: bad or over-long arguments are errors, never a write past the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"

namespace {

// An interpreter record over a bare DTE side (no port): output is discarded after every command.
struct Interp {
    coretest::CoreMachine machine{""};
    std::unique_ptr<DteContext> dte = std::make_unique<DteContext>();
    std::unique_ptr<AcuContext> acu = std::make_unique<AcuContext>();
    Interp()
    {
        dte_init(dte.get(), nullptr);
        AcuInit(acu.get(), dte.get(), nullptr, nullptr);
    }
    // Scans `text` as arguments of `type`; returns the scanner result and leaves the cursor in acu.
    int Scan(uint8_t type, const std::string& text)
    {
        std::strncpy(acu->line, text.c_str(), sizeof acu->line - 1);
        acu->line[sizeof acu->line - 1] = 0;
        acu->cursor = acu->line;
        acu->command_error = 0;
        std::memset(acu->args, 0xEE, sizeof acu->args);
        return ScanArguments(acu.get(), type);
    }
    std::string Rest() const { return acu->cursor; }
};

struct ScanCase {
    uint8_t type;
    const char* input;
    int result;
    std::vector<uint8_t> stored;  // leading bytes of the argument buffer (checked when the scan is good)
    const char* rest;
};

TEST(AtScanTest, CaseTable)
{
    Interp in;
    const ScanCase cases[] = {
        {0, "5", 0, {}, "5"},
        {1, "", 0, {0, 0}, ""},
        {1, "255X", 0, {255, 0}, "X"},
        {1, "256", 1, {}, ""},
        {1, "0000000000000000007", 0, {7, 0}, ""},
        {2, "65535", 0, {0xFF, 0xFF, 0, 0}, ""},
        {2, "65536", 1, {}, ""},
        {3, "4294967295;", 0, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, ";"},
        {3, "4294967296", 1, {}, ""},
        {3, "99999999999999999999999999", 1, {}, ""},
        {4, ",1", 0, {2, 1, 0}, ""},
        {4, "3,,7;", 0, {1, 3, 3, 7, 0}, ";"},
        {4, "1,256", 1, {}, ""},
        {5, "1000,2", 0, {1, 0, 0xE8, 0x03, 2, 0, 2, 0, 0, 0}, ""},
        {6, "70000", 0, {1, 0, 0, 0, 0x70, 0x11, 0x01, 0, 0, 0, 0, 0}, ""},
        {7, "0000FF", 0, {0xFF, 0}, ""},
        {7, "1FF", 1, {}, ""},
        {7, "1G", 0, {0x1, 0}, "G"},
        {8, "ABCD", 0, {0xCD, 0xAB, 0, 0}, ""},
        {8, "ABCDE", 1, {}, ""},
        {9, "12345678", 0, {0x78, 0x56, 0x34, 0x12}, ""},
        {9, "123456789", 1, {}, ""},
        {10, "A,,B", 0, {1, 0xA, 3, 0xB, 0}, ""},
        {10, "A,100", 1, {}, ""},
        {13, "T555;X", 0, {'T', '5', '5', '5', ';', 0}, "X"},
        {13, "123", 0, {'1', '2', '3', 0}, ""},
        {14, "\"a b\"X", 0, {'"', 'a', ' ', 'b', '"', 0}, "X"},
        {14, "abc", 1, {}, ""},
        {14, "\"abc", 1, {}, ""},
        {15, "1.2.3X", 0, {'1', '.', '2', '.', '3', 0}, "X"},
        {15, "X", 1, {}, ""},
        {16, "rest;of", 0, {'r', 'e', 's', 't', ';', 'o', 'f', 0}, ""},
        {17, "(555)-12,W;", 0, {'5', '5', '5', '1', '2', ',', 'W', ';', 0}, ""},
        {17, "55X", 1, {}, ""},
        {18, "1,#", 0, {2, 0, '1', 0, 2, 0, '#', 0, 0, 0}, ""},
        {18, "1,,2", 0, {2, 0, '1', 0, 1, 0, 2, 0, '2', 0, 0, 0}, ""},
        {18, "[440,480,100]", 0, {7, 0, 0xB8, 1, 8, 0, 0xE0, 1, 9, 0, 100, 0, 0, 0}, ""},
        {18, "[440]", 0, {7, 0, 0xB8, 1, 0xFF, 0, 0, 0}, ""},
        {18, "[]", 0, {3, 0, 0, 0}, ""},
        {18, "[,]", 0, {3, 0, 0, 0}, ""},
        {18, "[,,]", 1, {}, ""},
        {18, "[1,2,3,4]", 1, {}, ""},
        {18, "[70000]", 1, {}, ""},
        {18, "{5,100}", 0, {4, 0, '5', 0, 5, 0, 100, 0, 0, 0}, ""},
        {18, "{5}", 0, {4, 0, '5', 0, 0xFF, 0, 0, 0}, ""},
        {18, "{}", 0, {3, 0, 0, 0}, ""},
        {18, "{5,1,2}", 1, {}, ""},
        {18, "{55,1}", 1, {}, ""},
        {19, "-5", 0, {0xFB, 0}, ""},
        {19, "+127", 0, {127, 0}, ""},
        {19, "-128", 1, {}, ""},
        {20, "ABC;D", 0, {'A', 'B', 'C', 0}, ";D"},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(std::string("type ") + std::to_string(c.type) + " \"" + c.input + "\"");
        int r = in.Scan(c.type, c.input);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(in.acu->command_error, c.result);
        if (r == 0) {
            EXPECT_EQ(in.Rest(), c.rest);
            for (std::size_t k = 0; k < c.stored.size(); ++k)
                EXPECT_EQ(in.acu->args[k], c.stored[k]) << "byte " << k;
        }
    }
}

// Lists that do not fit the 80-byte argument buffer are errors.
TEST(AtScanTest, OverLongListsAreErrors)
{
    Interp in;
    struct Long {
        uint8_t type;
        std::string item;
        unsigned pair_bytes;  // bytes one item takes in the buffer
    };
    const Long lists[] = {
        {4, "1,", 2}, {5, "1,", 4}, {6, "1,", 8}, {10, "A,", 2}, {11, "A,", 4}, {12, "A,", 8}, {18, "1,", 4},
        {18, "[1,2,3],", 12},
    };
    for (const Long& l : lists) {
        SCOPED_TRACE(std::string("type ") + std::to_string(l.type) + " item " + l.item);
        std::string text;
        while (text.size() + l.item.size() <= 80)
            text += l.item;
        unsigned items = static_cast<unsigned>(text.size() / l.item.size());
        bool fits = items * l.pair_bytes + l.pair_bytes / 2 <= 80;
        EXPECT_EQ(in.Scan(l.type, text), fits ? 0 : 1);
    }
    // The longest text arguments a line can hold fit.
    EXPECT_EQ(in.Scan(16, std::string(79, 'X')), 0);
    EXPECT_EQ(in.Scan(13, std::string(79, '5')), 0);
}

TEST(AtScanTest, RandomArgumentsNeverOverrun)
{
    Interp in;
    std::mt19937 rng(20261210);
    const char alphabet[] = "0123456789,,,;[]{}\"ABCDEFWPT#*!-()+ .";
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        unsigned length = rng() % 81;
        for (unsigned k = 0; k < length; ++k)
            text += alphabet[rng() % (sizeof alphabet - 1)];
        uint8_t type = static_cast<uint8_t>(rng() % 22);  // 21 is not a type: an error
        int r = in.Scan(type, text);
        ASSERT_TRUE(r == 0 || r == 1);
        ASSERT_GE(in.acu->cursor, in.acu->line);
        ASSERT_LE(in.acu->cursor, in.acu->line + std::strlen(in.acu->line));
        if (type == 21) {
            ASSERT_EQ(r, 1);
        }
    }
}

TEST(AtScanTest, LinePreparation)
{
    struct Prep {
        const char* in;
        const char* out;
    };
    const Prep cases[] = {
        {"e1 v1", "E1V1"},
        {"+mA=\"a b\" x", "+MA=\"a b\"X"},
        {"\"ab\" \"c d\"e", "\"ab\"\"c d\"E"},
        {"x\"a b c", "X\"A B C"},      // an unpaired quote keeps the spaces after it but protects no case
        {"x\"a\"b\"c d", "X\"a\"B\"C D"},  // the unpaired last quote protects nothing
    };
    for (const Prep& p : cases) {
        char buffer[64];
        std::strcpy(buffer, p.in);
        at_prepare_line(buffer);
        EXPECT_STREQ(buffer, p.out) << p.in;
    }
}

TEST(AtScanTest, RandomLinesThroughTheParser)
{
    Interp in;
    std::mt19937 rng(77);
    const char alphabet[] = "ATEVQSIXWLM0123456789=?,;&\\%-+\"()[]{}*#!DR ";
    for (int n = 0; n < 5000; ++n) {
        std::string text;
        unsigned length = rng() % 81;
        for (unsigned k = 0; k < length; ++k)
            text += alphabet[rng() % (sizeof alphabet - 1)];
        std::strcpy(in.acu->line, text.c_str());
        in.acu->command_error = 0;
        at_begin_line(in.acu.get(), in.acu->line);
        int steps = 0;
        for (;;) {
            int r = at_execute_step(in.acu.get());
            dte_cmd_out_clear(in.dte.get());
            in.acu->collector = 0;
            ASSERT_LT(++steps, 200) << "a line ends";
            if (r != 0 || in.acu->command_error)
                break;
        }
        // Handlers post events; drain them so the queue never fills across lines.
        EventQueueInit(&in.acu->queue);
        // Settings a random line may change that would stop later lines from being parsed.
        in.acu->sreg[3] = 13;
    }
}

}  // namespace
