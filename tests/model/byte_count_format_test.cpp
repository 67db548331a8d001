#include "model/byte_count_format.hpp"

#include <gtest/gtest.h>

namespace vellico::model {
namespace {

TEST(ByteCountFormat, MatchesTheFileStyleFormatter)
{
    const ByteUnits units{"Zéro Ko", "octet", "octets", "Ko", "Mo", "Go", "To", ','};
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "Zéro Ko"},
        {-5, "Zéro Ko"},
        {1, "1 octet"},
        {999, "999 octets"},
        {1000, "1 Ko"},
        {1499, "1 Ko"},
        {1500, "2 Ko"},
        {999'499, "999 Ko"},
        {999'500, "1 Mo"}, // rounds to 1000 Ko: next unit
        {1'250'000, "1,3 Mo"},
        {12'000'000, "12 Mo"}, // no trailing ",0"
        {999'960'000, "1 Go"},
        {1'234'567'890, "1,23 Go"},
        {2'500'000'000, "2,5 Go"},
        {999'999'000'000, "1 To"},
        {18'270'000'000'000, "18,27 To"},
        {INT64_MAX, "9223372,04 To"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatByteCount(c.bytes, units), c.text) << c.bytes;
    }
}

} // namespace
} // namespace vellico::model
