#include "platform/Utf8Text.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST (Utf8Text, AcceptsEveryEncodedLengthAndRejectsOverlongSurrogateTruncatedAndStrayBytes)
{
    for (const auto* valid : { "", "plain ascii",
                               "\xc2\x80",              // U+0080, smallest two-byte form
                               "\xe3\x81\x82",          // U+3042
                               "\xed\x9f\xbf",          // U+D7FF, just below the surrogates
                               "\xee\x80\x80",          // U+E000, just above them
                               "\xf0\x9f\x98\x80",      // U+1F600
                               "\xf4\x8f\xbf\xbf" })    // U+10FFFF, the largest code point
        EXPECT_TRUE (isValidUtf8 (valid)) << testing::PrintToString (valid);

    for (const auto* invalid : { "\xc0\xaf", "\xc1\xbf", "\xe0\x80\xaf", "\xf0\x80\x80\xaf",   // overlong
                                 "\xed\xa0\x80", "\xed\xbf\xbf",                            // U+D800, U+DFFF
                                 "\xf4\x90\x80\x80",                                        // U+110000
                                 "\xf8\x88\x80\x80\x80", "\xff",
                                 "\xe3\x81", "a\xf0\x9f\x98",                               // cut short at the end
                                 "\x80",                                                    // continuation without a lead
                                 "\xe3" "a" "\x82" })                                       // lead interrupted by ASCII
        EXPECT_FALSE (isValidUtf8 (invalid)) << testing::PrintToString (invalid);
}

TEST (Utf8Text, DecodingEndsAtTheFirstNulButNeedsAllBytesValid)
{
    EXPECT_EQ (decodeUtf8Text ("abc\0def"s), "abc");
    EXPECT_EQ (decodeUtf8Text ("\0"s), "");
    EXPECT_EQ (decodeUtf8Text ("\xe3\x81\x82"), "\xe3\x81\x82");
    EXPECT_EQ (decodeUtf8Text ("\xff"), std::nullopt);
    EXPECT_EQ (decodeUtf8Text ("ok\0\xff"s), std::nullopt);   // not only the part before the NUL
}
