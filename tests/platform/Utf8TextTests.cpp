#include "platform/Utf8Text.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST (Utf8Text, AcceptsTextOfEveryEncodedLength)
{
    EXPECT_TRUE (isValidUtf8 (""));
    EXPECT_TRUE (isValidUtf8 ("plain ascii"));
    EXPECT_TRUE (isValidUtf8 ("\xc2\x80"));              // U+0080, smallest two-byte form
    EXPECT_TRUE (isValidUtf8 ("\xe3\x81\x82"));          // U+3042
    EXPECT_TRUE (isValidUtf8 ("\xed\x9f\xbf"));          // U+D7FF, just below the surrogates
    EXPECT_TRUE (isValidUtf8 ("\xee\x80\x80"));          // U+E000, just above them
    EXPECT_TRUE (isValidUtf8 ("\xf0\x9f\x98\x80"));      // U+1F600
    EXPECT_TRUE (isValidUtf8 ("\xf4\x8f\xbf\xbf"));      // U+10FFFF, the largest code point
}

TEST (Utf8Text, RejectsOverlongFormsSurrogatesAndCodePointsBeyondUnicode)
{
    EXPECT_FALSE (isValidUtf8 ("\xc0\xaf"));             // overlong "/"
    EXPECT_FALSE (isValidUtf8 ("\xc1\xbf"));
    EXPECT_FALSE (isValidUtf8 ("\xe0\x80\xaf"));
    EXPECT_FALSE (isValidUtf8 ("\xf0\x80\x80\xaf"));
    EXPECT_FALSE (isValidUtf8 ("\xed\xa0\x80"));         // U+D800
    EXPECT_FALSE (isValidUtf8 ("\xed\xbf\xbf"));         // U+DFFF
    EXPECT_FALSE (isValidUtf8 ("\xf4\x90\x80\x80"));     // U+110000
    EXPECT_FALSE (isValidUtf8 ("\xf8\x88\x80\x80\x80")); // five-byte form
    EXPECT_FALSE (isValidUtf8 ("\xff"));
}

TEST (Utf8Text, RejectsTruncatedAndStraySequences)
{
    EXPECT_FALSE (isValidUtf8 ("\xe3\x81"));             // cut short at the end
    EXPECT_FALSE (isValidUtf8 ("a\xf0\x9f\x98"));
    EXPECT_FALSE (isValidUtf8 ("\x80"));                 // continuation without a lead
    EXPECT_FALSE (isValidUtf8 ("\xe3" "a" "\x82"));      // lead interrupted by ASCII
}

TEST (Utf8Text, DecodingEndsTheTextAtTheFirstNul)
{
    EXPECT_EQ (decodeUtf8Text ("abc\0def"s), "abc");
    EXPECT_EQ (decodeUtf8Text ("\0"s), "");
    EXPECT_EQ (decodeUtf8Text ("\xe3\x81\x82"), "\xe3\x81\x82");
}

TEST (Utf8Text, DecodingInvalidBytesGivesNoTextEvenBehindANul)
{
    EXPECT_FALSE (decodeUtf8Text ("\xff").has_value());
    // The whole of the bytes must be UTF-8, not only the part before the NUL.
    EXPECT_FALSE (decodeUtf8Text ("ok\0\xff"s).has_value());
}
