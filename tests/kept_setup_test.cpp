// The XPort's kept setup in one process, as a fleet running units at once
// will use it: the lock of an address keeps a second run off it here too,
// and runs at once keep records of their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kept_setup.h"
#include "xport_setup.h"

namespace {

std::vector<uint8_t> setupWith(uint8_t byte21)
{
    std::vector<uint8_t> setup(kSetupRecordSize, 0x55);
    setup[kSwitchedByte] = byte21;
    return setup;
}

class KeptSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* address : {"127.0.0.91", "127.0.0.92", "127.0.0.93"})
            removeFile(statePath(stateFolder(), std::string("xport-") + address + ".setup"));
    }
};

TEST_F(KeptSetupTest, OneRunAtATimeOnAnAddressInOneProcessToo)
{
    KeptSetup first, second;
    ASSERT_EQ(first.open("127.0.0.91"), KeptSetupFound::None) << first.reason();
    EXPECT_EQ(second.open("127.0.0.91"), KeptSetupFound::Locked);
    EXPECT_GT(second.holder(), 0) << "the holder's process id is in the lock";
    first.close();
    EXPECT_EQ(second.open("127.0.0.91"), KeptSetupFound::None) << second.reason();
}

TEST_F(KeptSetupTest, RunsAtOnceKeepRecordsOfTheirOwn)
{
    KeptSetup a, b;
    ASSERT_EQ(a.open("127.0.0.92"), KeptSetupFound::None) << a.reason();
    ASSERT_EQ(b.open("127.0.0.93"), KeptSetupFound::None) << b.reason();
    uint8_t byteA = 0, byteB = 0;
    ASSERT_EQ(a.keeper()->keep(&a, setupWith(2).data(), &byteA), 1);
    ASSERT_EQ(b.keeper()->keep(&b, setupWith(5).data(), &byteB), 1);
    EXPECT_EQ(byteA, 2);
    EXPECT_EQ(byteB, 5);
    a.close();  // killed after the switch: the records stay
    b.close();

    KeptSetup nextA, nextB;
    ASSERT_EQ(nextA.open("127.0.0.92"), KeptSetupFound::Kept) << nextA.reason();
    ASSERT_EQ(nextB.open("127.0.0.93"), KeptSetupFound::Kept) << nextB.reason();
    EXPECT_EQ(nextA.keptByte(), 2u);
    EXPECT_EQ(nextB.keptByte(), 5u);
    uint8_t original = 0;
    ASSERT_EQ(nextA.keeper()->keep(&nextA, setupWith(kSwitchedValue).data(), &original), 1);
    EXPECT_EQ(original, 2) << "the kept byte, not the switched one read now";
    nextA.keeper()->forget(&nextA);
    nextA.close();
    KeptSetup last;
    EXPECT_EQ(last.open("127.0.0.92"), KeptSetupFound::None) << "put back: the record is gone";
    EXPECT_TRUE(nextB.remains()) << "the other address's record stays";
    nextB.keeper()->forget(&nextB);
}

} // namespace
