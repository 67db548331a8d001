#include "model/uuid.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

namespace vellico::model {
namespace {

// Both kinds are version 4 UUIDs of the RFC 4122 variant, in the upper-case
// text form, and never repeat, within a thread or across threads.
TEST(Uuid, RandomAndQuickAreDistinctVersionFourUuids)
{
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = (i % 2 == 0 ? Uuid::random() : Uuid::quick()).toString();
        EXPECT_TRUE(std::regex_match(text, form)) << text;
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
    // A thread of its own seeds its own generator: no shared sequence.
    std::string fromThread;
    std::thread([&] { fromThread = Uuid::quick().toString(); }).join();
    const std::string here = Uuid::quick().toString();
    EXPECT_NE(fromThread, here);
    EXPECT_EQ(seen.count(fromThread), 0U);
}

} // namespace
} // namespace vellico::model
