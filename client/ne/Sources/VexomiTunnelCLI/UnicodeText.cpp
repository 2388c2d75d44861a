// SPDX-License-Identifier: Apache-2.0
#include "UnicodeText.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include <utf8proc.h>

namespace vxm::tunnel {
namespace {

// Canonical decomposition, then canonical ordering: normalization form D.
// UTF8PROC_STABLE only restricts composition, which this never asks for.
constexpr auto kDecompose = static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STABLE);

bool isAscii(char byte) { return static_cast<unsigned char>(byte) < 0x80; }

const utf8proc_uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const utf8proc_uint8_t*>(text.data());
}

// The code points of a text in normalization form D. Most names fit in a
// buffer on the stack; a longer decomposition is redone into one on the heap.
class Decomposition {
public:
    // False when the text is not well-formed UTF-8: utf8proc refuses the whole
    // text then (UTF8PROC_ERROR_INVALIDUTF8), whatever the fault (a stray
    // continuation byte, a truncated sequence, an overlong form, a surrogate,
    // a value past U+10FFFF), and replaces nothing.
    bool decompose(std::string_view text) {
        const auto length = static_cast<utf8proc_ssize_t>(text.size());
        utf8proc_ssize_t count = utf8proc_decompose(bytesOf(text), length, inline_.data(),
                                                    static_cast<utf8proc_ssize_t>(inline_.size()), kDecompose);
        if (count > static_cast<utf8proc_ssize_t>(inline_.size())) {
            heap_.resize(static_cast<std::size_t>(count));
            count = utf8proc_decompose(bytesOf(text), length, heap_.data(), count, kDecompose);
        }
        if (count < 0) {
            return false;
        }
        size_ = static_cast<std::size_t>(count);
        return true;
    }

    bool operator==(const Decomposition& other) const {
        return std::equal(begin(), begin() + size_, other.begin(), other.begin() + other.size_);
    }

private:
    const utf8proc_int32_t* begin() const { return heap_.empty() ? inline_.data() : heap_.data(); }

    std::array<utf8proc_int32_t, 64> inline_{};
    std::vector<utf8proc_int32_t> heap_;
    std::size_t size_ = 0;
};

// Whether both texts are well-formed and have equal decompositions.
bool equalDecompositions(std::string_view a, std::string_view b) {
    Decomposition decomposedA;
    Decomposition decomposedB;
    return decomposedA.decompose(a) && decomposedB.decompose(b) && decomposedA == decomposedB;
}

bool isWellFormed(std::string_view text) {
    utf8proc_ssize_t pos = 0;
    const auto length = static_cast<utf8proc_ssize_t>(text.size());
    while (pos < length) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t read = utf8proc_iterate(bytesOf(text) + pos, length - pos, &codePoint);
        if (read <= 0) {
            return false;
        }
        pos += read;
    }
    return true;
}

}  // namespace

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    // From here on the bytes differ, so ill-formed text compares unequal, and
    // every shortcut below may answer false before checking well-formedness.
    const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    const auto differ = static_cast<std::size_t>(mismatch.first - a.begin());
    // Decomposition maps each code point to one or more, so when one text
    // is a proper prefix of the other, its decomposition is shorter.
    if (differ == a.size() || differ == b.size()) {
        return false;
    }
    // An ASCII character is a code point of its own that decomposition keeps
    // and that no mark is reordered across: both decompositions have the same
    // part before it, and different characters at it.
    if (isAscii(a[differ]) && isAscii(b[differ])) {
        return false;
    }
    // Compare from the last ASCII character before the difference, or from
    // the start: the decompositions agree before it.
    std::size_t start = differ;
    while (start > 0) {
        --start;
        if (isAscii(a[start])) {
            break;
        }
    }
    // The common part ends before an ASCII byte, so it is well-formed on its
    // own or not at all.
    return equalDecompositions(a.substr(start), b.substr(start)) && isWellFormed(a.substr(0, start));
}

}  // namespace vxm::tunnel
