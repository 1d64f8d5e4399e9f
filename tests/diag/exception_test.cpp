#include "diag/exception.h"

#include <gtest/gtest.h>

TEST(Exception, CarriesItsMessageAndRequireThrowsOnlyOnFalse)
{
    try {
        throw Exception("primary index 7 is outside a block of 7 bytes");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "primary index 7 is outside a block of 7 bytes");
    }
    EXPECT_NO_THROW(require(true, "never"));
    EXPECT_THROW(require(false, "bad"), Exception);
}
