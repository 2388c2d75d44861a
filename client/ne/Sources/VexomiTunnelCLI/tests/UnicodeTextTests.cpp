#include "UnicodeText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace vxm::tunnel {
namespace {

std::string hexBytes(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        out += {kDigits[static_cast<unsigned char>(c) >> 4], kDigits[c & 0xF], ' '};
    }
    return out;
}

std::string repeat(std::string_view text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

struct NamePair {
    std::string a;
    std::string b;
    bool equal;
};

TEST(CanonicallyEqualTest, Table) {
    // More marks on one base than a segment keeps on the stack.
    const std::string interleaved = "o" + repeat("\u0301\u0323", 40);
    const std::string sorted = "o" + repeat("\u0323", 40) + repeat("\u0301", 40);
    const std::vector<NamePair> cases = {
        {"caf\u00E9", "cafe\u0301", true},
        {"Vexomi \xE2\x80\x94 Z\u00FCrich 12", "Vexomi \xE2\x80\x94 Zu\u0308rich 12", true},
        {"Vexomi \xE2\x80\x94 Z\u00FCrich 12", "Vexomi \xE2\x80\x94 Zu\u0308rich 13", false},
        {"Vexomi \xE2\x80\x94 caf\u00E9", "Vexomi \xE2\x80\x94 caf\u00E8", false},
        {"Vi\u1EC7t Nam", "Vie\u0302\u0323t Nam", true},  // two levels of decomposition, then ordering
        {"\u1EC7", "\u1EB9\u0302", true},                 // first difference inside a code point
        {"\u65E5\u672C\u00E9", "\u65E5\u672Ce\u0301", true},  // nothing ASCII before the difference
        {"\u65E5\u672C", "\u65E5\u6708", false},              // both their own decompositions
        {"\uD55C", "\u1112\u1161\u11AB", true},                // Hangul: lead, vowel, trail
        {"\uAC00", "\u1100\u1161", true},                      // the first syllable
        {"\uD7A3", "\u1112\u1175\u11C2", true},                // the last syllable
        {"\uD558\u11AB", "\uD55C", true},
        {"\uD55C", "\u1112\u1161", false},
        {"\u212A", "K", true},                                 // a singleton to ASCII
        {"\U0002F800", "\u4E3D", true},                        // four-byte sequence
        {"a\u0301\u0323", "a\u0323\u0301", true},              // classes 230 and 220 commute
        {"q\u0327\u0301\u0316", "q\u0301\u0316\u0327", true},  // 202, 230, 220
        {"a\u0301\u0300", "a\u0300\u0301", false},             // one class: order kept
        {"a\u0301b\u0323", "a\u0323b\u0301", false},           // no mark crosses a base
        {"a\u0344", "a\u0308\u0301", true},                    // a mark decomposing into two
        {"\u0F40\u0F73", "\u0F40\u0F72\u0F71", true},          // a starter decomposing into marks
        {"\u0301\u0323", "\u0323\u0301", true},                // marks with no base
        {interleaved, sorted, true},
        {interleaved + "\u0301\u0300", sorted + "\u0300\u0301", false},
        {"e", "e\u0301", false},
        {"\u00C9", "e\u0301", false},                           // no case folding
        {"\uFB01le", "file", false},                            // no compatibility mapping
        {"caf\xC3", "caf\xC3", true},                           // ill-formed but the same bytes
        {"caf\u00E9\xFF", "cafe\u0301\xFF", false},             // ill-formed after the difference
        {"a\x80\u00E9", "a\x80" "e\u0301", false},              // ill-formed before it
        {"\xFF x\u00E9", "\xFF xe\u0301", false},               // ill-formed before the last ASCII
        {"\u00E9\xC3", "e\u0301\xC3", false},                   // a sequence cut short
        {"\u00E9", "e\xE0\x8C\x81", false},                     // overlong U+0301
        {"\u00E9", "e\xF0\x80\x8C\x81", false},
        {"\u00E9\xED\xA0\x80", "e\u0301\xED\xA0\x80", false},  // a surrogate
        {"\u00E9\xF4\x90\x80\x80", "e\u0301\xF4\x90\x80\x80", false},  // past U+10FFFF
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(canonicallyEqual(a, b), equal) << hexBytes(a) << "/ " << hexBytes(b);
        EXPECT_EQ(canonicallyEqual(b, a), equal) << hexBytes(b) << "/ " << hexBytes(a);
    }
}

}  // namespace
}  // namespace vxm::tunnel
