#include "UnicodeText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace vxm::tunnel {
namespace {

std::string hexBytes(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
        out += ' ';
    }
    return out.empty() ? "(empty) " : out;
}

// Both results check the two argument orders: the relation is symmetric.
testing::AssertionResult equivalent(std::string_view a, std::string_view b) {
    const bool forward = canonicallyEqual(a, b);
    if (forward != canonicallyEqual(b, a)) {
        return testing::AssertionFailure() << "asymmetric for " << hexBytes(a) << "and " << hexBytes(b);
    }
    if (!forward) {
        return testing::AssertionFailure() << hexBytes(a) << "and " << hexBytes(b) << "differ";
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult distinct(std::string_view a, std::string_view b) {
    const bool forward = canonicallyEqual(a, b);
    if (forward != canonicallyEqual(b, a)) {
        return testing::AssertionFailure() << "asymmetric for " << hexBytes(a) << "and " << hexBytes(b);
    }
    if (forward) {
        return testing::AssertionFailure() << hexBytes(a) << "and " << hexBytes(b) << "compare equal";
    }
    return testing::AssertionSuccess();
}

TEST(CanonicallyEqualTest, PrecomposedEqualsDecomposed) {
    EXPECT_TRUE(equivalent("caf\u00E9", "cafe\u0301"));
    EXPECT_TRUE(equivalent("\u00C5ngstr\u00F6m", "A\u030Angstro\u0308m"));
    // U+1EC7 decomposes through U+1EB9 to e, dot below (class 220) and
    // circumflex (class 230); any spelling reaches the same marks.
    EXPECT_TRUE(equivalent("\u1EC7", "e\u0323\u0302"));
    EXPECT_TRUE(equivalent("\u1EC7", "e\u0302\u0323"));
    EXPECT_TRUE(equivalent("\u00EA\u0323", "\u1EB9\u0302"));
    EXPECT_TRUE(equivalent("Vi\u1EC7t Nam", "Vie\u0302\u0323t Nam"));
}

TEST(CanonicallyEqualTest, DisplayNamesAfterTheEmDashPrefix) {
    EXPECT_TRUE(equivalent("Vexomi \xE2\x80\x94 caf\u00E9", "Vexomi \xE2\x80\x94 cafe\u0301"));
    EXPECT_TRUE(equivalent("Vexomi \xE2\x80\x94 Z\u00FCrich 12", "Vexomi \xE2\x80\x94 Zu\u0308rich 12"));
    EXPECT_TRUE(equivalent("Vexomi \xE2\x80\x94 \u00C5", "Vexomi \xE2\x80\x94 \u212B"));
    EXPECT_TRUE(distinct("Vexomi \xE2\x80\x94 caf\u00E9", "Vexomi \xE2\x80\x94 caf\u00E8"));
    EXPECT_TRUE(distinct("Vexomi \xE2\x80\x94 caf\u00E9", "Vexomi \xE2\x80\x94 cafe"));
    EXPECT_TRUE(distinct("Vexomi \xE2\x80\x94 Berlin", "Vexomi \xE2\x80\x94 Paris"));
    EXPECT_TRUE(distinct("Vexomi \xE2\x80\x94 Z\u00FCrich 12", "Vexomi \xE2\x80\x94 Zu\u0308rich 13"));
    EXPECT_TRUE(distinct("Vexomi \xE2\x80\x94 ", "Vexomi - "));
}

TEST(CanonicallyEqualTest, DifferenceInsideOrAfterNonAsciiText) {
    // The texts first differ in the second byte of U+1EC7 and U+1EB9.
    EXPECT_TRUE(equivalent("\u1EC7", "\u1EB9\u0302"));
    EXPECT_TRUE(equivalent("Vi\u1EC7t", "Vi\u1EB9\u0302t"));
    // Nothing ASCII precedes the difference: the comparison must take the
    // texts from their start.
    EXPECT_TRUE(equivalent("\u65E5\u672C\u00E9", "\u65E5\u672Ce\u0301"));
    EXPECT_TRUE(equivalent("\u00C5\u00C5", "\u00C5A\u030A"));
    EXPECT_TRUE(distinct("\u65E5\u672C", "\u65E5\u6708"));
}

TEST(CanonicallyEqualTest, HangulSyllablesEqualTheirJamo) {
    EXPECT_TRUE(equivalent("\uD55C", "\u1112\u1161\u11AB"));  // syllable with a trailing consonant
    EXPECT_TRUE(equivalent("\uAC00", "\u1100\u1161"));        // first syllable, none
    EXPECT_TRUE(equivalent("\uD7A3", "\u1112\u1175\u11C2"));  // last syllable
    EXPECT_TRUE(equivalent("\uD55C\uAD6D", "\u1112\u1161\u11AB\u1100\u116E\u11A8"));
    // A syllable without a trailing consonant, then a trailing jamo.
    EXPECT_TRUE(equivalent("\uD558\u11AB", "\uD55C"));
    EXPECT_TRUE(distinct("\uD55C", "\u1112\u1161\u11A8"));
    EXPECT_TRUE(distinct("\uD55C", "\u1112\u1161"));
    EXPECT_TRUE(distinct("\uD55C", "\uD558"));
}

TEST(CanonicallyEqualTest, SingletonDecompositions) {
    EXPECT_TRUE(equivalent("\u212B", "\u00C5"));   // ANGSTROM SIGN
    EXPECT_TRUE(equivalent("\u212B", "A\u030A"));
    EXPECT_TRUE(equivalent("\u2126", "\u03A9"));   // OHM SIGN
    EXPECT_TRUE(equivalent("\u212A", "K"));        // KELVIN SIGN
    EXPECT_TRUE(equivalent("\U0002F800", "\u4E3D"));  // CJK compatibility ideograph
    EXPECT_TRUE(distinct("\u2126", "\u03C9"));
}

TEST(CanonicallyEqualTest, MarksOfDifferentClassesCommuteButOfOneClassDoNot) {
    EXPECT_TRUE(equivalent("a\u0301\u0323", "a\u0323\u0301"));  // 230 and 220
    EXPECT_TRUE(equivalent("q\u0327\u0301\u0316", "q\u0301\u0316\u0327"));  // 202, 230, 220
    EXPECT_TRUE(equivalent("\u00E9\u0323", "e\u0323\u0301"));  // a precomposed mark is reordered too
    EXPECT_TRUE(distinct("a\u0301\u0300", "a\u0300\u0301"));    // both 230
    EXPECT_TRUE(distinct("\u00E9\u0300", "\u00E8\u0301"));
    // Marks never move across a base letter.
    EXPECT_TRUE(distinct("a\u0301b\u0323", "a\u0323b\u0301"));
}

TEST(CanonicallyEqualTest, CodePointsThatDecomposeIntoMarks) {
    EXPECT_TRUE(equivalent("a\u0344", "a\u0308\u0301"));        // class 230 decomposing to two marks
    EXPECT_TRUE(equivalent("\u0F73", "\u0F71\u0F72"));          // class 0 decomposing to marks
    EXPECT_TRUE(equivalent("\u0F40\u0F73", "\u0F40\u0F72\u0F71"));  // which then sort: 130 after 129
    EXPECT_TRUE(equivalent("\u0301\u0323", "\u0323\u0301"));    // marks with no base
}

TEST(CanonicallyEqualTest, LongRunsOfMarks) {
    std::string sorted = "o";
    std::string interleaved = "o";
    for (int i = 0; i < 40; ++i) {
        interleaved += "\u0301\u0323";
        sorted += "\u0323";
    }
    for (int i = 0; i < 40; ++i) {
        sorted += "\u0301";
    }
    EXPECT_TRUE(equivalent(interleaved, sorted));
    EXPECT_TRUE(distinct(interleaved + "\u0301\u0300", sorted + "\u0300\u0301"));
    EXPECT_TRUE(equivalent(interleaved + "\u0300\u0316", sorted + "\u0316\u0300"));
}

TEST(CanonicallyEqualTest, NoCaseFoldingOrCompatibilityMapping) {
    EXPECT_TRUE(distinct("Caf\u00E9", "CAF\u00C9"));
    EXPECT_TRUE(distinct("cafe\u0301", "CAFE\u0301"));
    EXPECT_TRUE(distinct("\uFB01le", "file"));          // LATIN SMALL LIGATURE FI
    EXPECT_TRUE(distinct("\uFF36\uFF30\uFF2E", "VPN"));  // fullwidth letters
    EXPECT_TRUE(distinct("m\u00B2", "m2"));              // superscript two
    EXPECT_TRUE(distinct("\u00B5", "\u03BC"));           // MICRO SIGN
    EXPECT_TRUE(distinct("caf\u00E9 ", "caf\u00E9"));
}

TEST(CanonicallyEqualTest, EmptyAndPrefixTexts) {
    EXPECT_TRUE(equivalent("", ""));
    EXPECT_TRUE(distinct("", "\u0301"));
    EXPECT_TRUE(distinct("e", "e\u0301"));
    EXPECT_TRUE(distinct("\u00E9", "\u00E9\u0323"));
}

TEST(CanonicallyEqualTest, InvalidUtf8ComparesBytes) {
    EXPECT_TRUE(equivalent("caf\xC3", "caf\xC3"));
    EXPECT_TRUE(equivalent("\xFF\xFE", "\xFF\xFE"));
    // Equivalent apart from an ill-formed byte, before or after the difference.
    EXPECT_TRUE(distinct("caf\u00E9\xFF", "cafe\u0301\xFF"));
    EXPECT_TRUE(distinct("\xFF\u00E9", "\xFF" "e\u0301"));
    EXPECT_TRUE(distinct("\xFF x\u00E9", "\xFF xe\u0301"));
    EXPECT_TRUE(distinct("\u00E9\xC3", "e\u0301\xC3"));  // truncated sequence at the end
    // Overlong encodings of U+0301 are not a combining acute accent.
    EXPECT_TRUE(distinct("\u00E9", "e\xE0\x8C\x81"));
    EXPECT_TRUE(distinct("\u00E9", "e\xF0\x80\x8C\x81"));
    // Encoded surrogates and values past U+10FFFF are ill-formed.
    EXPECT_TRUE(distinct("\u00E9\xED\xA0\x80", "e\u0301\xED\xA0\x80"));
    EXPECT_TRUE(distinct("\u00E9\xF4\x90\x80\x80", "e\u0301\xF4\x90\x80\x80"));
    // A stray continuation byte after the ASCII part.
    EXPECT_TRUE(distinct("a\x80\u00E9", "a\x80" "e\u0301"));
}

}  // namespace
}  // namespace vxm::tunnel
