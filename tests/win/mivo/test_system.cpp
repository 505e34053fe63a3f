#include "mivo/mivo.h"

#include <gtest/gtest.h>

namespace {

TEST(MivoSystem, OnlyTheNtFamilyMatches) {
    EXPECT_EQ(MIVO_SysOsVersion(MIVO_OS_NT), 1);
    EXPECT_EQ(MIVO_SysOsVersion(MIVO_OS_WIN95), 0);
    EXPECT_EQ(MIVO_SysOsVersion(0), 0);
    EXPECT_EQ(MIVO_SysOsVersion(3), 0);
    EXPECT_EQ(MIVO_SysOsVersion(-1), 0);
}

}  // namespace
