#include "platform/AppleEvent.h"

#include <gtest/gtest.h>

namespace vxm::platform {
namespace {

static_assert(fourCharCode("aevt") == 0x61657674U);

TEST(FourCharCodeTest, FirstCharacterGoesToTheMostSignificantByte) {
    EXPECT_EQ(kCoreEventClass, 0x61657674U);
    EXPECT_EQ(kAEOpenDocuments, 0x6F646F63U);
    EXPECT_EQ(keyDirectObject, 0x2D2D2D2DU);
    EXPECT_EQ(fourCharCode("abcd"), 0x61626364U);
}

TEST(FourCharCodeTest, BytesAboveSevenBitsAreNotSignExtended) {
    EXPECT_EQ(fourCharCode("\xFF\x01\x80\x7F"), 0xFF01807FU);
    EXPECT_EQ(fourCharCode("a\xE9t\xE9"), 0x61E974E9U);
}

}  // namespace
}  // namespace vxm::platform
