#include "restart/checksum.hpp"

#include <gtest/gtest.h>
#include <random>
#include <string>

TEST(Checksum, IsTheCrc32OfZip) {
    EXPECT_EQ(Crc32(0, "", 0), 0u);
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32_By_Tables(0, "123456789", 9), 0xCBF43926u);
}

// Folding takes whole 16-byte blocks from 64 bytes on and leaves the rest to
// the tables: every length around those bounds, at odd addresses, whole or
// in two parts.
TEST(Checksum, FoldingAgreesWithTheTablesAtEveryLength) {
    std::mt19937 rng(7);
    std::string bytes(1200, '\0');
    for (char& c : bytes)
        c = char(rng());
    for (std::size_t len = 0; len <= 1100; len += len < 300 ? 1 : 97)
        for (std::size_t at : {0, 1, 3}) {
            const char* p = bytes.data() + at;
            const std::uint32_t want = Crc32_By_Tables(0, p, len);
            ASSERT_EQ(Crc32(0, p, len), want) << len << " at " << at;
            ASSERT_EQ(Crc32(Crc32(0, p, len / 3), p + len / 3, len - len / 3), want) << len;
        }
}
