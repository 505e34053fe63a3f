// The main window's station list steps: load with the retry question, fill
// the list box, and let go again.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "directory/channel_list_model.h"
#include "app/res/resource.h"
#include "settings/string_ids.h"
#include "directory/station_directory.h"
#include "fixtures.h"

namespace {

using dirtest::TestHost;

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

class StationDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DLG_MAIN),
                                     nullptr, PlainDialogProc, 0);
        ASSERT_NE(dialog_, nullptr);
        listBox_ = GetDlgItem(dialog_, IDC_STATIONS);
        originalProc_ = GetWindowLongPtrA(dialog_, GWLP_WNDPROC);
    }
    void TearDown() override {
        CloseStationDirectory(&directory_);
        EXPECT_EQ(directory_.list, nullptr);
        EXPECT_EQ(directory_.listBox, nullptr);
        EXPECT_EQ(SendMessageA(listBox_, LB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(GetWindowLongPtrA(dialog_, GWLP_WNDPROC), originalProc_);
        DestroyWindow(dialog_);
        dirtest::ControlServer("/up");
    }

    bool Open(const char* mode, testsupport::BoxWatcher::Chooser chooser) {
        testsupport::BoxWatcher answerer(std::move(chooser));
        bool opened = OpenStationDirectory(dialog_, TestHost(), folder_.path().c_str(),
                                           dirtest::ServedListUrl(mode).c_str(), &directory_);
        boxes_ = answerer.Boxes();
        return opened;
    }

    static std::vector<std::string> ServedNames() {
        return {std::begin(dirtest::kServedNames), std::end(dirtest::kServedNames)};
    }
    std::vector<std::string> RowNames() const {
        std::vector<std::string> names;
        int count = static_cast<int>(SendMessageA(listBox_, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            auto* e = reinterpret_cast<ChannelEntry*>(SendMessageA(listBox_, LB_GETITEMDATA, i, 0));
            names.push_back(e && e->name ? e->name : "");
        }
        return names;
    }

    dirtest::ScratchFolder folder_;
    HWND dialog_ = nullptr;
    HWND listBox_ = nullptr;
    LONG_PTR originalProc_ = 0;
    StationDirectory directory_;
    std::vector<testsupport::SeenBox> boxes_;
};

TEST_F(StationDirectoryTest, ServerUpShowsEveryStationInOrder) {
    ASSERT_TRUE(Open("normal", [](const std::string&, const std::string&) { return IDOK; }));
    EXPECT_TRUE(boxes_.empty());
    ASSERT_NE(directory_.list, nullptr);
    ASSERT_NE(directory_.listBox, nullptr);
    EXPECT_TRUE(directory_.listBox->ready);
    EXPECT_EQ(RowNames(), ServedNames());
    EXPECT_EQ(SendMessageA(listBox_, LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(directory_.list->GetChannel(0),
              reinterpret_cast<ChannelEntry*>(SendMessageA(listBox_, LB_GETITEMDATA, 0, 0)));
    EXPECT_TRUE(dirtest::FileExists(folder_.File(kLocalFileName)));
}

TEST_F(StationDirectoryTest, ServerDownAsksAndYesAfterItIsBackShowsTheList) {
    ASSERT_TRUE(dirtest::ControlServer("/down"));
    const std::string retry = TestHost().texts->GetString(IDS_RETRY_STATIONS);
    ASSERT_TRUE(Open("normal", [&](const std::string&, const std::string& text) {
        if (text != retry) return IDOK;
        dirtest::ControlServer("/up");
        return IDYES;
    }));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, TestHost().texts->GetString(IDS_DOWNLOAD_FAILED));
    EXPECT_EQ(boxes_[0].caption, dirtest::kVersionedCaption);
    EXPECT_FALSE(boxes_[0].yesNo);
    EXPECT_EQ(boxes_[1].text, retry);
    EXPECT_EQ(boxes_[1].caption, dirtest::kPlainCaption);
    EXPECT_TRUE(boxes_[1].yesNo);
    EXPECT_EQ(RowNames(), ServedNames());
    EXPECT_EQ(SendMessageA(listBox_, LB_GETCURSEL, 0, 0), 0);
}

TEST_F(StationDirectoryTest, AnsweringNoGivesUp) {
    const std::string retry = TestHost().texts->GetString(IDS_RETRY_STATIONS);
    // A damaged list asks the same question as a failed download.
    EXPECT_FALSE(Open("500", [&](const std::string&, const std::string& text) {
        return text == retry ? IDNO : IDOK;
    }));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, TestHost().texts->GetString(IDS_LIST_UNREADABLE));
    EXPECT_EQ(boxes_[1].text, retry);
    EXPECT_EQ(SendMessageA(listBox_, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(StationDirectoryTest, ServerDownAndNoGivesUp) {
    ASSERT_TRUE(dirtest::ControlServer("/down"));
    const std::string retry = TestHost().texts->GetString(IDS_RETRY_STATIONS);
    EXPECT_FALSE(Open("normal", [&](const std::string&, const std::string& text) {
        return text == retry ? IDNO : IDOK;
    }));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, TestHost().texts->GetString(IDS_DOWNLOAD_FAILED));
    EXPECT_EQ(boxes_[1].text, retry);
    EXPECT_FALSE(dirtest::FileExists(folder_.File(kLocalFileName)));
}

}  // namespace
