// The hyperlink control before MIVO_UiHypCtrlInit ever ran in the process.
#include "mivo/mivo.h"

#include <gtest/gtest.h>

namespace {

TEST(MivoHyperlink, CreateBeforeInitFails) {
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    MIVO_HypCtrlInfo info = {};
    info.url = "http://example.org/";
    info.format = DT_SINGLELINE;
    EXPECT_EQ(MIVO_UiHypCtrlCreate(parent, &info, 0, 0, 100, 20), nullptr);
    // No window was left behind on the parent either.
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    DestroyWindow(parent);
}

}  // namespace
