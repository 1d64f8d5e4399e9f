#include "diag/timing.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string timeLine(long start, long end, int precision = 6)
{
    std::ostringstream os;
    os.precision(precision);
    printTime(os, "Compression time: ", start, end);
    return os.str();
}

} // namespace

TEST(PrintTime, SecondsInTheStreamsPrecision)
{
    EXPECT_EQ(timeLine(1000, 2500), "Compression time: 1.5s\n");
    EXPECT_EQ(timeLine(100, 116), "Compression time: 0.016s\n");
    EXPECT_EQ(timeLine(0, 0), "Compression time: 0s\n");
    EXPECT_EQ(timeLine(0, 1234567), "Compression time: 1234.57s\n");
    // After the compression summary has set 3 significant digits.
    EXPECT_EQ(timeLine(0, 12345, 3), "Compression time: 12.3s\n");
}

TEST(PrintTime, MissingReadingGivesDash)
{
    EXPECT_EQ(timeLine(-1, 2500), "Compression time: -\n");
    EXPECT_EQ(timeLine(1000, -1), "Compression time: -\n");
}

TEST(PrintTime, ClockReadsMillisecondsThatDoNotGoBack)
{
    long first = clockMillis();
    volatile unsigned long sink = 0;
    for (unsigned long i = 0; i < 20000000; ++i) sink = sink + i;
    long second = clockMillis();
    ASSERT_GE(first, 0);
    EXPECT_GE(second, first);
    // 20 million additions take well under a minute of processor time.
    EXPECT_LT(second - first, 60000);
}
