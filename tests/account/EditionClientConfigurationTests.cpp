#include "account/EditionClientConfiguration.h"

#include <gtest/gtest.h>

#include <limits>

TEST (EditionClientConfiguration, EditionsZeroToTwoShareOneClientThreeHasItsOwnOthersNone)
{
    const auto isLowerHex64 = [] (const std::string& text)
    {
        return text.size() == 64 && text.find_first_not_of ("0123456789abcdef") == std::string::npos;
    };

    for (Edition edition : { 0, 1, 2, 3 })
    {
        SCOPED_TRACE (edition);
        const bool tesh = edition == 3;
        EXPECT_EQ (getRedirectUri (edition), tesh ? "at-zembrik-tesh://oauth2" : "at-zembrik-2-fennix://oauth2");
        EXPECT_EQ (getClientId (edition) == getClientId (0), ! tesh);
        EXPECT_EQ (getClientSecret (edition) == getClientSecret (0), ! tesh);
        EXPECT_TRUE (isLowerHex64 (getClientId (edition)));
        EXPECT_TRUE (isLowerHex64 (getClientSecret (edition)));
    }

    for (Edition edition : { 4, -1, std::numeric_limits<Edition>::max(), std::numeric_limits<Edition>::min() })
    {
        SCOPED_TRACE (edition);
        EXPECT_EQ (getRedirectUri (edition) + getClientId (edition) + getClientSecret (edition), "");
    }
}
