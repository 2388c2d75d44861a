#include "UnicodeText.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace vxm::tunnel {
namespace {

TEST(CanonicallyEqualTest, Table) {
    // More marks on one base than a segment keeps on the stack.
    std::string interleaved = "o";
    std::string sorted = "o";
    for (int i = 0; i < 40; ++i) {
        interleaved += "\u0301\u0323";
        sorted.insert(1, "\u0323");
        sorted += "\u0301";
    }
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"caf\u00E9", "cafe\u0301", true},
        {"Vexomi — caf\u00E9", "Vexomi — caf\u00E8", false},
        {"Vi\u1EC7t Nam", "Vie\u0302\u0323t Nam", true},      // two levels of decomposition, then ordering
        {"\uD55C", "\u1112\u1161\u11AB", true},               // Hangul: lead, vowel, trail
        {"\u212A", "K", true},                                 // a singleton to ASCII
        {"q\u0327\u0301\u0316", "q\u0301\u0316\u0327", true},  // classes 202, 230, 220
        {"a\u0301b\u0323", "a\u0323b\u0301", false},           // no mark crosses a base
        {"\u0F40\u0F73", "\u0F40\u0F72\u0F71", true},          // a starter decomposing into marks
        {interleaved, sorted, true},
        {interleaved + "\u0301\u0300", sorted + "\u0300\u0301", false},
        {"a\x80\u00E9", "a\x80" "e\u0301", false},             // ill-formed before the difference
        {"\u00E9\xC3", "e\u0301\xC3", false},                  // a sequence cut short
        {"\u00E9", "e\xE0\x8C\x81", false},                    // overlong U+0301
        {"\u00E9\xED\xA0\x80", "e\u0301\xED\xA0\x80", false},          // a surrogate
        {"\u00E9\xF4\x90\x80\x80", "e\u0301\xF4\x90\x80\x80", false},  // past U+10FFFF
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(canonicallyEqual(a, b), equal) << testing::PrintToString(a) << " " << testing::PrintToString(b);
        EXPECT_EQ(canonicallyEqual(b, a), equal) << testing::PrintToString(b) << " " << testing::PrintToString(a);
    }
}

}  // namespace
}  // namespace vxm::tunnel
