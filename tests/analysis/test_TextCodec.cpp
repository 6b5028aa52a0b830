#include "analysis/ByteReader.h"
#include "analysis/TextCodec.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

std::string Bytes(std::initializer_list<uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string FromUtf16LE(const std::string& bytes)
{
    return Utf16LEToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(TextCodecLatin1, ConvertsBothWays)
{
    EXPECT_EQ(Latin1ToUtf8("Mot\xF6rhead"), "Mot\u00F6rhead");
    EXPECT_EQ(Latin1ToUtf8(Bytes({0xFF, 0x80, 0x00, 'a'})), std::string("\u00FF\xC2\x80\0a", 6));
    EXPECT_EQ(Utf8ToLatin1("Mot\u00F6rhead \u00FF"), "Mot\xF6rhead \xFF");
    for (int c = 1; c < 256; ++c) {
        std::string one(1, char(c));
        EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(one)), one) << c;
    }
}

TEST(TextCodecLatin1, CharactersOutsideLatin1AndBrokenSequencesBecomeQuestionMarks)
{
    EXPECT_EQ(Utf8ToLatin1("\u0414\u0435"), "??");
    EXPECT_EQ(Utf8ToLatin1("a\U0001F600b"), "a?b");
    EXPECT_EQ(Utf8ToLatin1(Bytes({'a', 0xC3})), "a?");           // cut off at the end
    EXPECT_EQ(Utf8ToLatin1(Bytes({0xC3, 'x'})), "?x");           // continuation missing
    EXPECT_EQ(Utf8ToLatin1(Bytes({0x80, 0xFF})), "??");          // no lead byte
    EXPECT_EQ(Utf8ToLatin1(Bytes({'a', 0xC0, 0x80, 'b'})), "a??b");  // an overlong NUL is no NUL
    EXPECT_EQ(ValidUtf8(Bytes({0xE0, 0x80, 0xAF})), "\uFFFD\uFFFD\uFFFD");  // an overlong slash
    EXPECT_EQ(ValidUtf8(Bytes({0xC2, 0x80, 0xF0, 0x90, 0x80, 0x80})), "\u0080\U00010000");  // shortest forms
    EXPECT_TRUE(IsLatin1Text("Caf\u00E9"));
    EXPECT_TRUE(IsLatin1Text(""));
    EXPECT_FALSE(IsLatin1Text("\u65E5"));
    EXPECT_FALSE(IsLatin1Text("a\U0001F600"));
}

TEST(TextCodecUtf16, DecodesBothByteOrdersAndSurrogatePairs)
{
    EXPECT_EQ(FromUtf16LE(Bytes({'A', 0, 0x14, 0x04})), "A\u0414");
    const uint8_t be[] = {0x65, 0xE5, 0x67, 0x2C};
    EXPECT_EQ(Utf16BEToUtf8(be, sizeof be), "\u65E5\u672C");
    EXPECT_EQ(FromUtf16LE(Bytes({0x3D, 0xD8, 0x00, 0xDE})), "\U0001F600");
    EXPECT_EQ(FromUtf16LE(Bytes({0x3D, 0xD8, 'a', 0})), "\uFFFDa");   // high surrogate alone
    EXPECT_EQ(FromUtf16LE(Bytes({0x00, 0xDE})), "\uFFFD");            // low surrogate alone
    EXPECT_EQ(FromUtf16LE(Bytes({0x3D, 0xD8})), "\uFFFD");            // pair cut off
    EXPECT_EQ(FromUtf16LE(Bytes({'a', 0, 'b'})), "a");                // odd byte ignored
    EXPECT_EQ(FromUtf16LE(""), "");
}

TEST(TextCodecUtf16, EncodesAndRoundTrips)
{
    EXPECT_EQ(Utf8ToUtf16LE("A\u0414"), Bytes({'A', 0, 0x14, 0x04}));
    EXPECT_EQ(Utf8ToUtf16LE("\U0001F600"), Bytes({0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(Utf8ToUtf16LE(Bytes({0xFF})), Bytes({0xFD, 0xFF}));
    const std::string mixed = "Mot\u00F6rhead \u0414\u0435\u043B\u044C\u0444\u0438\u043D \u65E5\u672C \U0001F600";
    EXPECT_EQ(FromUtf16LE(Utf8ToUtf16LE(mixed)), mixed);
}

TEST(TextCodecCounting, LengthAndLeftCountCharactersNotBytes)
{
    EXPECT_EQ(Utf8Length(""), 0u);
    EXPECT_EQ(Utf8Length("abc"), 3u);
    EXPECT_EQ(Utf8Length("\u00F6\u65E5\U0001F600"), 3u);
    EXPECT_EQ(Utf8Left("\u00F6\u65E5\U0001F600x", 2), "\u00F6\u65E5");
    EXPECT_EQ(Utf8Left("abc", 10), "abc");
    EXPECT_EQ(Utf8Left("abc", 0), "");
    // A broken sequence counts as one character and is never split further.
    EXPECT_EQ(Utf8Length(Bytes({'a', 0xC3})), 2u);
    EXPECT_EQ(Utf8Left(Bytes({0xE6, 0x97, 0xA5, 'b'}), 1), "\u65E5");
}

TEST(TextCodecTrim, RemovesCodesUpTo32AtTheEnds)
{
    EXPECT_EQ(TrimControl(std::string(" \t\0x y\r\n\0 ", 10)), "x y");
    EXPECT_EQ(TrimControl(std::string("\x01\x20\x21", 3)), "!");
    EXPECT_EQ(TrimControl("   "), "");
    EXPECT_EQ(TrimControlRight(std::string("  a\0b\0\0  ", 9)), std::string("  a\0b", 5));
    EXPECT_EQ(TrimControlRight("\u00F6 "), "\u00F6");  // multi-byte characters are never cut
    EXPECT_EQ(TrimControlRight(""), "");
}

TEST(TextCodecByteReader, FieldsOutsideTheViewReadAsZero)
{
    const std::vector<uint8_t> bytes{0x12, 0x34, 0x56, 0x78, 0x9A};
    ByteReader reader(bytes);
    EXPECT_TRUE(reader.Has(0, 5));
    EXPECT_TRUE(reader.Has(5, 0));
    EXPECT_FALSE(reader.Has(1, 5));
    EXPECT_FALSE(reader.Has(6, 0));
    EXPECT_FALSE(reader.Has(2, std::numeric_limits<size_t>::max()));  // no wrap-around
    EXPECT_FALSE(reader.Has(std::numeric_limits<size_t>::max(), 2));
    EXPECT_EQ(reader.BE32(2), 0u);
    EXPECT_EQ(reader.LE16(4), 0u);
    EXPECT_EQ(reader.U8(5), 0u);
    EXPECT_EQ(reader.LE64(0), 0u);
    EXPECT_EQ(reader.Synchsafe32(std::numeric_limits<size_t>::max() - 1), 0u);
    EXPECT_FALSE(reader.Matches(3, "xyz"));
}

TEST(TextCodecByteReader, ByteOrdersAndSynchsafe)
{
    const std::vector<uint8_t> bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 'I', 'D', '3'};
    ByteReader reader(bytes);
    EXPECT_EQ(reader.U8(4), 0x9Au);
    EXPECT_EQ(reader.BE16(0), 0x1234u);
    EXPECT_EQ(reader.LE16(0), 0x3412u);
    EXPECT_EQ(reader.BE32(0), 0x12345678u);
    EXPECT_EQ(reader.LE32(0), 0x78563412u);
    EXPECT_EQ(reader.LE64(0), 0xF0DEBC9A78563412ull);
    EXPECT_TRUE(reader.Matches(8, "ID3"));
    EXPECT_FALSE(reader.Matches(8, "ID4"));

    const std::vector<uint8_t> synchsafe{0x01, 0x7F, 0xFF, 0x7F};  // bit 7 of each byte is ignored
    EXPECT_EQ(ByteReader(synchsafe).Synchsafe32(0), (1u << 21) | (0x7Fu << 14) | (0x7Fu << 7) | 0x7Fu);

    std::vector<uint8_t> out;
    PutSynchsafe32(out, 16384);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 1, 0, 0}));
    PutBE32(out, 0xA1B2C3D4);
    EXPECT_EQ(ByteReader(out).BE32(4), 0xA1B2C3D4u);
    for (uint32_t value : {0u, 127u, 128u, 16383u, 16384u, 0x0FFFFFFFu}) {
        std::vector<uint8_t> encoded;
        PutSynchsafe32(encoded, value);
        EXPECT_EQ(ByteReader(encoded).Synchsafe32(0), value);
        for (uint8_t byte : encoded)
            EXPECT_EQ(byte & 0x80, 0);
    }
}
