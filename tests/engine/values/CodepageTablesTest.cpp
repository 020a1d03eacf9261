// The double-byte code pages go through tables filled from iconv: every byte pair and every
// character of the Basic Multilingual Plane must convert exactly as iconv converts it, also
// in running text with broken bytes, and with many threads filling the tables at once.
#include "engine/contract/EngineError.h"
#include "engine/values/Codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace vemo::engine;

namespace {

std::string utf8Of(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | c >> 6);
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xE0 | c >> 12);
        s += char(0x80 | (c >> 6 & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
    return s;
}

// encodeText's answer, or "!" when it refuses.
std::string encoded(std::string_view text, int cp, bool iconvOnly) {
    try {
        return iconvOnly ? encodeTextWithIconv(text, cp) : encodeText(text, cp);
    } catch (const EngineError& e) {
        EXPECT_EQ(e.code(), ErrConvert);
        return "!";
    }
}

class DoubleByte : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(DoubleByte, EveryPairAndEveryCharacterAsIconvHasThem) {
    const int cp = GetParam();
    if (!codepageConvertible(cp))
        GTEST_SKIP() << "iconv has no code page " << cp;
    int pairs = 0, chars = 0;
    for (unsigned lead = 0; lead < 256; ++lead)
        for (unsigned trail = 0; trail < 256; ++trail) {
            const std::string in{char(lead), char(trail)};
            const std::string ours = decodeText(in, cp);
            ASSERT_EQ(ours, decodeTextWithIconv(in, cp)) << std::hex << lead << " " << trail;
            pairs += ours.find("\xEF\xBF\xBD") == std::string::npos;
        }
    for (uint32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const std::string text = utf8Of(c) + "x";
        const std::string ours = encoded(text, cp, false);
        ASSERT_EQ(ours, encoded(text, cp, true)) << std::hex << c;
        chars += ours != "!";
    }
    EXPECT_GT(pairs, 5000);
    EXPECT_GT(chars, 5000);
    // Characters outside the plane and text that is not UTF-8 are refused as before.
    EXPECT_EQ(encoded("a\xF0\x9F\x98\x80", cp, false), "!");
    EXPECT_EQ(encoded("a\xE3\x81", cp, false), encoded("a\xE3\x81", cp, true));
}

TEST_P(DoubleByte, RunningTextWithBrokenBytesReadsAsThroughIconv) {
    const int cp = GetParam();
    if (!codepageConvertible(cp))
        GTEST_SKIP() << "iconv has no code page " << cp;
    std::mt19937 rng(cp);
    for (int round = 0; round < 20000; ++round) {
        std::string in(1 + rng() % 12, '\0');
        for (char& b : in)
            b = char(rng() % 3 ? 0x80 + rng() % 0x80 : rng() % 0x80); // mostly high bytes
        const std::string text = decodeText(in, cp);
        ASSERT_EQ(text, decodeTextWithIconv(in, cp)) << round;
        ASSERT_EQ(encoded(text, cp, false), encoded(text, cp, true)) << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Codepages, DoubleByte, ::testing::Values(932, 936, 949, 950)); // 949 goes through iconv alone

TEST(CodepageTables, FilledByManyThreadsAtOnceGiveOneAnswer) {
    // Threads convert the same Japanese text at once (run alone, they fill the tables together).
    std::string text;
    for (uint32_t c = 0x4E00; c < 0x9FA0; c += 7)
        if (encoded(utf8Of(c), 932, true) != "!")
            text += utf8Of(c);
    const std::string expected = encodeTextWithIconv(text, 932);
    std::vector<std::string> got(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t)
        threads.emplace_back([&, t] { got[t] = encodeText(text, 932) + "|" + decodeText(expected, 932); });
    for (auto& th : threads)
        th.join();
    for (const auto& g : got)
        EXPECT_EQ(g, expected + "|" + decodeTextWithIconv(expected, 932));
}
