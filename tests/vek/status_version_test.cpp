// Status texts and version records.
#include <cstring>
#include <set>
#include <string>

#include "vek_harness.h"

namespace {

TEST(VekStatus, VocabularyHas121AscendingCodes)
{
    ASSERT_EQ(vek_status_text_count, 121);
    for (int i = 1; i < vek_status_text_count; ++i) {
        EXPECT_LT(vek_status_texts[i - 1].code, vek_status_texts[i].code);
    }
    EXPECT_EQ(vek_status_texts[0].code, -9999);
    EXPECT_EQ(vek_status_texts[120].code, 19);
    for (int i = 0; i < vek_status_text_count; ++i) {
        EXPECT_EQ(vek_status_text(vek_status_texts[i].code), vek_status_texts[i].text);
    }
}

TEST(VekStatus, TextsAreVerbatim)
{
    struct Case {
        VekStatus code;
        const char* text;
    };
    const Case cases[] = {
        {VEK_OK, "No error, it's ok"},
        {VEK_ERR_SIZE, "Wrong value of data size"},
        {VEK_ERR_NULL_POINTER, "Null pointer error"},
        {VEK_ERR_NO_MEMORY, "Not enough memory for the operation"},
        {-4, "Not enough memory for the operation"},
        {VEK_ERR_CONTEXT_MISMATCH, "The context parameter doesn't match to the operation"},
        {VEK_ERR_MODE_NOT_SUPPORTED, "The requested mode is currently not supported"},
        {VEK_ERR_CPU_NOT_SUPPORTED, "The target cpu is not supported"},
        {VEK_ERR_DIV_BY_ZERO, "An attempt to divide by zero"},
        {VEK_WARN_DIV_BY_ZERO, "Zero value(s) of divisor in the function Div"},
        {VEK_ERR_SHIFT, "Value of shift is less than zero"},
        {-18, "Invalid treshold bounds"},
        {-65, "No sonvergence of SVD algorithm"},
        {-76, "The quantizer value is less or qual to zero or more then 31"},
        {-108, "The step value is not pixel multiple"},
        {13, "Quantized LP syntethis filter stability check is applied at the low boundary of [0,pi]"},
        {19, "Argument is out of function domain"},
        {-1, "Unknown Status Code"},
        {-3, "Unknown Status Code"},
        {-68, "Unknown Status Code"},
        {20, "Unknown Status Code"},
        {-10000, "Unknown Status Code"},
        {INT32_MIN, "Unknown Status Code"},
        {INT32_MAX, "Unknown Status Code"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(vek_status_text(c.code), c.text) << c.code;
    }
}

TEST(VekVersionRecord, EachColumnNamesItself)
{
    const char* const target[4] = {"gen", "mm", "ss", "wd"};
    const char* const name[4] = {"veksgen", "veksmm", "veksss", "vekswd"};
    for (int column : vektest::kColumns) {
        const VekVersion* v = vek_variant<VekSlot::vek_get_version>(column)();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->major, 2);
        EXPECT_EQ(v->minor, 0);
        EXPECT_EQ(v->majorBuild, 6);
        EXPECT_EQ(v->build, 38);
        char padded[4] = {};
        std::memcpy(padded, target[column], std::strlen(target[column]));
        EXPECT_EQ(std::memcmp(v->targetCpu, padded, 4), 0);
        EXPECT_STREQ(v->name, name[column]);
        EXPECT_STREQ(v->version, "v2.0 gold");
        EXPECT_STREQ(v->buildDate, "Dec  4 2001");
        EXPECT_STREQ(vek_variant<VekSlot::vek_status_text>(column)(-6), "Wrong value of data size");
    }
}

} // namespace
