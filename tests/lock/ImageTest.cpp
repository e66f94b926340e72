#include "ImageEntries.h"
#include "V38Bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

using namespace v38;

// The layout's worked offsets; the image's size is pinned where it is defined.
static_assert(entryOffset(0) == 4 && entryOffset(99) == 400 && blockOffset(7) == 448);
static_assert(serviceCardOffset(0) == 404 && serviceCardOffset(1) == 424);
// Block 6 holds entries 95..99, both cards and the first 4 reserved bytes.
static_assert(entryOffset(95) / BlockSize == 6 && (offset::reserved + 3) / BlockSize == 6);
static_assert((offset::reserved + 4) / BlockSize == 7);
// No entry straddles a block boundary.
constexpr bool entriesWithinBlocks() {
    for (int i = 0; i < EntryCount; ++i)
        if (entryOffset(i) / BlockSize != (entryOffset(i) + 3) / BlockSize)
            return false;
    return true;
}
static_assert(entriesWithinBlocks());
static_assert(!isBlock(-1) && !isBlock(8));
static_assert(DefaultFlags == (DoorSensor | BankFormat | HalfStripe));

TEST(V38BankImage, ConstructionErasesAndResetGivesDefaults) {
    V38Bank bank;
    EXPECT_EQ(bank.portNumber(), 0);
    EXPECT_EQ(bank.channel().portHandle(), serial::InvalidPortHandle);
    EXPECT_TRUE(std::all_of(bank.image().begin(), bank.image().end(), [](auto b) { return b == 0xFF; }));

    bank.image().fill(0x00);
    bank.resetImage();
    EXPECT_EQ(bank.image()[0], 0x19);
    EXPECT_TRUE(std::all_of(bank.image().begin() + 1, bank.image().end(), [](auto b) { return b == 0xFF; }));
}

TEST(V38BankImage, ServiceCardUsesOnlyTheLowestBitOfItsIndex) {
    V38Bank bank;
    for (std::size_t j = 0; j < ServiceCardSize; ++j) {
        bank.image()[404 + j] = std::uint8_t(j);
        bank.image()[424 + j] = std::uint8_t(0x80 + j);
    }
    for (int k : {0, 2, -2, 1, 3, -1}) {
        std::uint8_t out[20] = {};
        getServiceCard(bank.image(), k, out);
        const std::uint8_t first = (k & 1) ? 0x80 : 0x00;
        for (std::size_t j = 0; j < ServiceCardSize; ++j)
            ASSERT_EQ(out[j], first + j) << "k=" << k << " j=" << j;
    }
}
