// The outcome texts a user reads in the tool tip, the popup and the log.
#include <gtest/gtest.h>

#include "core/report.h"

namespace
{

TEST(Report, OutcomeTexts)
{
    const struct {
        int32_t count;
        int64_t size;
        const char* text;
    } rows[] = {
        {0, 0, "新着メールはありません"},
        {1, 0, "1 通のメール (0 バイト)"},
        {1, 2048, "1 通のメール (2Kバイト)"},
        {1, 2049, "1 通のメール (3Kバイト)"},
        {1, 2097152, "1 通のメール (2Mバイト)"},
        {1, 2097153, "1 通のメール (3Mバイト)"},
        {2, 2147483649LL, "2 通のメール (2049Mバイト)"},
        {1, INT64_MAX, "1 通のメール (8796093022208Mバイト)"},
        {2147483647, 100, "2147483647 通のメール (100 バイト)"},
    };
    for (const auto& row : rows) {
        char text[OUTCOME_TEXT_CAPACITY];
        format_outcome(text, sizeof text, row.count, row.size);
        EXPECT_STREQ(row.text, text) << row.count << " messages, " << row.size << " bytes";
    }
}

} // namespace
