// SPDX-License-Identifier: Apache-2.0
#include "UnicodeText.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace vxm::tunnel {
namespace {

struct DecompositionEntry {
    char32_t codePoint;
    std::uint16_t offset;  // into kDecompositionPool
    std::uint8_t length;
};

struct CombiningClassRun {
    char32_t first;
    char32_t last;
    std::uint8_t combiningClass;
};

#include "UnicodeTables.inc"

// Hangul syllables decompose by arithmetic into a leading consonant, a vowel
// and, for some, a trailing consonant.
constexpr char32_t kHangulSyllableFirst = 0xAC00;
constexpr char32_t kHangulLeadFirst = 0x1100;
constexpr char32_t kHangulVowelFirst = 0x1161;
constexpr char32_t kHangulTrailBase = 0x11A7;  // one before the first trailing consonant
constexpr char32_t kHangulVowelCount = 21;
constexpr char32_t kHangulTrailCount = 28;
constexpr char32_t kHangulSyllableCount = 19 * kHangulVowelCount * kHangulTrailCount;

static_assert(kMaxDecompositionLength >= 3, "a Hangul syllable decomposes into up to three jamo");

constexpr char32_t kMalformed = 0xFFFFFFFF;

bool isAscii(char byte) { return static_cast<unsigned char>(byte) < 0x80; }

// Decodes the code point at text[pos] and moves pos past it, or returns
// kMalformed (pos unchanged) for an ill-formed sequence: a stray continuation
// byte, a truncated sequence, an overlong form, a surrogate or a value past
// U+10FFFF.
char32_t decodeNext(std::string_view text, std::size_t& pos) {
    const auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned lead = byteAt(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t codePoint = 0;
    unsigned secondLow = 0x80;
    unsigned secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return kMalformed;
    }
    if (text.size() - pos < length) {
        return kMalformed;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned byte = byteAt(pos + i);
        const unsigned low = i == 1 ? secondLow : 0x80;
        const unsigned high = i == 1 ? secondHigh : 0xBF;
        if (byte < low || byte > high) {
            return kMalformed;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    pos += length;
    return codePoint;
}

// Whether canonical decomposition leaves the code point as it is and where it
// is: it has no canonical mapping, is no Hangul syllable and has class 0.
bool isStable(char32_t codePoint) {
    const std::size_t block = codePoint >> kStabilityBlockBits;
    if (block >= std::size(kStabilityBlocks)) {
        return true;
    }
    const std::uint64_t mask = kStabilityMasks[kStabilityBlocks[block]];
    return ((mask >> (codePoint & ((1U << kStabilityBlockBits) - 1))) & 1U) == 0;
}

std::uint8_t combiningClass(char32_t codePoint) {
    if (isStable(codePoint)) {
        return 0;
    }
    const auto* const end = std::end(kCombiningClassRuns);
    const auto* const run = std::partition_point(
        std::begin(kCombiningClassRuns), end, [codePoint](const CombiningClassRun& r) { return r.last < codePoint; });
    return run != end && run->first <= codePoint ? run->combiningClass : 0;
}

const DecompositionEntry* findDecomposition(char32_t codePoint) {
    const auto* const end = std::end(kDecompositions);
    const auto* const entry = std::partition_point(
        std::begin(kDecompositions), end,
        [codePoint](const DecompositionEntry& e) { return e.codePoint < codePoint; });
    return entry != end && entry->codePoint == codePoint ? entry : nullptr;
}

enum class TextKind {
    malformed,  // not well-formed UTF-8
    stable,     // well-formed, and its own canonical decomposition
    unstable,   // well-formed, and holds a code point that decomposition changes or reorders
};

TextKind classify(std::string_view text) {
    bool stable = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (isAscii(text[pos])) {
            ++pos;
            continue;
        }
        const char32_t codePoint = decodeNext(text, pos);
        if (codePoint == kMalformed) {
            return TextKind::malformed;
        }
        stable = stable && isStable(codePoint);
    }
    return stable ? TextKind::stable : TextKind::unstable;
}

bool isWellFormed(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (decodeNext(text, pos) == kMalformed) {
            return false;
        }
    }
    return true;
}

struct Mark {
    char32_t codePoint;
    std::uint8_t combiningClass;
};

// The full canonical decomposition of a well-formed UTF-8 text, one code
// point at a time, before canonical ordering.
class DecomposedStream {
public:
    explicit DecomposedStream(std::string_view text) : text_(text) {}

    // The next code point, or false at the end.
    bool peek(Mark& mark) {
        if (index_ == count_ && !refill()) {
            return false;
        }
        mark = pending_[index_];
        return true;
    }

    void pop() { ++index_; }

private:
    bool refill() {
        if (pos_ == text_.size()) {
            return false;
        }
        const char32_t codePoint = decodeNext(text_, pos_);
        index_ = 0;
        count_ = 0;
        if (isStable(codePoint)) {
            pending_[count_++] = {codePoint, 0};
        } else if (codePoint - kHangulSyllableFirst < kHangulSyllableCount) {
            const char32_t index = codePoint - kHangulSyllableFirst;
            const char32_t trail = index % kHangulTrailCount;
            pending_[count_++] = {kHangulLeadFirst + index / (kHangulVowelCount * kHangulTrailCount), 0};
            pending_[count_++] = {kHangulVowelFirst + (index / kHangulTrailCount) % kHangulVowelCount, 0};
            if (trail != 0) {
                pending_[count_++] = {kHangulTrailBase + trail, 0};
            }
        } else if (const DecompositionEntry* entry = findDecomposition(codePoint)) {
            for (std::size_t i = 0; i < entry->length; ++i) {
                const char32_t part = kDecompositionPool[entry->offset + i];
                pending_[count_++] = {part, combiningClass(part)};
            }
        } else {
            pending_[count_++] = {codePoint, combiningClass(codePoint)};
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::array<Mark, kMaxDecompositionLength> pending_;  // the first count_ are set
    std::size_t count_ = 0;
    std::size_t index_ = 0;
};

// One code point of a decomposition and the non-starters (class > 0) that
// follow it: canonical ordering never moves a mark out of its segment. Short
// segments stay on the stack; a long run of marks spills to the heap.
class Segment {
public:
    // Reads the next segment of the stream and puts it in canonical order;
    // false at the end.
    bool read(DecomposedStream& stream) {
        size_ = 0;
        spill_.clear();
        Mark mark{};
        if (!stream.peek(mark)) {
            return false;
        }
        do {
            push(mark);
            stream.pop();
        } while (stream.peek(mark) && mark.combiningClass != 0);
        sortByCombiningClass();
        return true;
    }

    bool operator==(const Segment& other) const {
        return std::equal(begin(), end(), other.begin(), other.end(),
                          [](const Mark& x, const Mark& y) { return x.codePoint == y.codePoint; });
    }

private:
    static constexpr std::size_t kInlineCapacity = 32;

    const Mark* begin() const { return spill_.empty() ? inline_.data() : spill_.data(); }
    const Mark* end() const { return begin() + size_; }

    void push(const Mark& mark) {
        if (size_ < kInlineCapacity) {
            inline_[size_++] = mark;
            return;
        }
        if (spill_.empty()) {
            spill_.assign(inline_.begin(), inline_.end());
        }
        spill_.push_back(mark);
        ++size_;
    }

    // A stable sort by class: marks of equal class keep their order, and
    // the leading starter (class 0) stays first.
    void sortByCombiningClass() {
        const auto byClass = [](const Mark& x, const Mark& y) { return x.combiningClass < y.combiningClass; };
        if (!spill_.empty()) {
            std::stable_sort(spill_.begin(), spill_.end(), byClass);
            return;
        }
        for (std::size_t i = 1; i < size_; ++i) {
            const Mark mark = inline_[i];
            std::size_t j = i;
            for (; j > 0 && byClass(mark, inline_[j - 1]); --j) {
                inline_[j] = inline_[j - 1];
            }
            inline_[j] = mark;
        }
    }

    std::array<Mark, kInlineCapacity> inline_;  // the first size_ are set
    std::size_t size_ = 0;
    std::vector<Mark> spill_;
};

bool equalDecompositions(std::string_view a, std::string_view b) {
    DecomposedStream streamA(a);
    DecomposedStream streamB(b);
    Segment segmentA;
    Segment segmentB;
    while (true) {
        const bool moreA = segmentA.read(streamA);
        const bool moreB = segmentB.read(streamB);
        if (moreA != moreB) {
            return false;
        }
        if (!moreA) {
            return true;
        }
        if (!(segmentA == segmentB)) {
            return false;
        }
    }
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
    const std::string_view restA = a.substr(start);
    const std::string_view restB = b.substr(start);
    const TextKind kindA = classify(restA);
    const TextKind kindB = classify(restB);
    if (kindA == TextKind::malformed || kindB == TextKind::malformed) {
        return false;
    }
    if (kindA == TextKind::stable && kindB == TextKind::stable) {
        return false;  // both rests are their own decompositions, and differ
    }
    // The common part ends before an ASCII byte, so it is well-formed on its own or not at all.
    if (!isWellFormed(a.substr(0, start))) {
        return false;
    }
    return equalDecompositions(restA, restB);
}

}  // namespace vxm::tunnel
