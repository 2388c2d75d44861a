// SPDX-License-Identifier: Apache-2.0
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
        {"Vi\u1EC7t Nam", "Vie\u0302\u0323t Nam", true},      // two levels of decomposition, then ordering
        {"q\u0327\u0301\u0316", "q\u0301\u0316\u0327", true},  // classes 202, 230, 220
        {interleaved, sorted, true},
        {interleaved + "\u0301\u0300", sorted + "\u0300\u0301", false},
        {"a\x80\u00E9", "a\x80" "e\u0301", false},             // ill-formed before the difference
        {"\u00E9\xED\xA0\x80", "e\u0301\xED\xA0\x80", false},          // a surrogate
        {"\u00E9\xF4\x90\x80\x80", "e\u0301\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\u00E9\xC0\xAF", "e\u0301\xC0\xAF", false},            // an overlong form
        {"\u00E9\xE2\x82", "e\u0301\xE2\x82", false},            // truncated at the end
        {"\x80" "a\u00E9", "\x80" "ae\u0301", false},             // ill-formed before the last ASCII
        {"a\x80\xC3", "a\x80\xC3", true},                        // the same bytes, ill-formed or not
        {"a\u0301\U00010EFD", "a\U00010EFD\u0301", true},       // class 220, new in Unicode 15
        {"\u00C9", "e\u0301", false},                             // no case folding
        {"\u00E9", "e", false},                                   // no mark stripped
        {"\uFB01", "fi", false},                                  // no compatibility mapping
        {"caf\u00E9\u00AD", "cafe\u0301", false},                // no ignorable dropped
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(canonicallyEqual(a, b), equal) << testing::PrintToString(a) << " " << testing::PrintToString(b);
        EXPECT_EQ(canonicallyEqual(b, a), equal) << testing::PrintToString(b) << " " << testing::PrintToString(a);
    }
}

}  // namespace
}  // namespace vxm::tunnel
