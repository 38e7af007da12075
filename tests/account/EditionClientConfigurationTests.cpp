#include "account/EditionClientConfiguration.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
    bool isLowerHex64 (const std::string& text)
    {
        return text.size() == 64 && text.find_first_not_of ("0123456789abcdef") == std::string::npos;
    }
}

TEST (EditionClientConfiguration, EditionsZeroToTwoShareTheFennixClient)
{
    for (Edition edition : { 0, 1, 2 })
    {
        EXPECT_EQ (getRedirectUri (edition), "at-zembrik-2-fennix://oauth2");
        EXPECT_EQ (getClientId (edition), getClientId (0));
        EXPECT_EQ (getClientSecret (edition), getClientSecret (0));
    }
}

TEST (EditionClientConfiguration, EditionThreeHasTheTeshClient)
{
    EXPECT_EQ (getRedirectUri (3), "at-zembrik-tesh://oauth2");
    EXPECT_NE (getClientId (3), getClientId (0));
    EXPECT_NE (getClientSecret (3), getClientSecret (0));
}

TEST (EditionClientConfiguration, CredentialsAreSixtyFourLowerCaseHexDigits)
{
    for (Edition edition : { 0, 1, 2, 3 })
    {
        EXPECT_TRUE (isLowerHex64 (getClientId (edition))) << edition;
        EXPECT_TRUE (isLowerHex64 (getClientSecret (edition))) << edition;
    }
}

TEST (EditionClientConfiguration, EditionsOutsideZeroToThreeHaveNoClient)
{
    for (Edition edition : { 4, -1, std::numeric_limits<Edition>::max(), std::numeric_limits<Edition>::min() })
    {
        EXPECT_EQ (getRedirectUri (edition), "") << edition;
        EXPECT_EQ (getClientId (edition), "") << edition;
        EXPECT_EQ (getClientSecret (edition), "") << edition;
    }
}
