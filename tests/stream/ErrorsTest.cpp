#include "stream/Errors.h"

#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

TEST(Errors, AssertionFailureNamesUnitAndLine) {
    const unsigned line = __LINE__ + 2;
    try {
        MP3Assert(false);
        FAIL() << "no assertion failure raised";
    } catch (const EMP3AssertionFailure& failure) {
        EXPECT_EQ(failure.Line(), line);
        EXPECT_EQ(std::string(failure.what()),
                  "Assertion failure (MP3Plyr, line " + std::to_string(line) + ")");
    }
    EXPECT_NO_THROW(MP3Assert(true));
}

TEST(Errors, AssertionFailureIsAnEngineError) {
    EXPECT_THROW(MP3Assert(1 + 1 == 3), EMP3Error);
}

} // namespace
} // namespace pelbrisk
