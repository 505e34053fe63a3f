// The About and module dialogs, driven from a second thread while the modal
// call runs on the test's thread; and the module export written to a file.
#include "mivo/mivo.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "box_watcher.h"
#include "mivo/hyperlink_layout.h"
#include "mivo/module_format.h"
#include "mivo/module_list.h"
#include "mivo/resource.h"
#include "ui_probe.h"

namespace {

constexpr char kDialogClass[] = "#32770";
// The save dialog's file name: an edit (explorer style) or a combo box holding one.
constexpr int kFileNameEdit = 0x480;
constexpr int kFileNameCombo = 0x47C;

// Runs the modal call while `drive` works the dialog from another thread. The
// driver closes whatever it left open, so a failed check never hangs the test.
INT_PTR RunModal(const std::function<INT_PTR()>& modal, const std::function<void()>& drive) {
    std::thread driver(drive);
    const INT_PTR result = modal();
    driver.join();
    return result;
}

std::string ItemText(HWND dialog, int id) { return uiprobe::TextOf(GetDlgItem(dialog, id)); }

LOGFONTA FontOf(HWND window) {
    LOGFONTA font = {};
    HFONT handle = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    if (handle != nullptr) GetObjectA(handle, sizeof font, &font);
    return font;
}

POINT Centre(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Paths of the process's modules in load order, as the module list shows them:
// "ERROR" for a file without a version resource.
std::vector<std::string> LoadedModulePaths() {
    std::vector<HMODULE> modules(mivo::kMaxModules);
    DWORD needed = 0;
    EnumProcessModules(GetCurrentProcess(), modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed);
    std::vector<std::string> paths;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < modules.size(); ++i) {
        char path[MAX_PATH] = {};
        DWORD handle = 0;
        if (GetModuleFileNameExA(GetCurrentProcess(), modules[i], path, sizeof path) == 0 ||
            GetFileVersionInfoSizeA(path, &handle) == 0) {
            paths.push_back(mivo::kModuleErrorText);
        } else {
            paths.push_back(path);
        }
    }
    return paths;
}

int ProcessModuleCount() {
    std::vector<HMODULE> modules(mivo::kMaxModules);
    DWORD needed = 0;
    EnumProcessModules(GetCurrentProcess(), modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed);
    return static_cast<int>(needed / sizeof(HMODULE));
}

struct AboutSeen {
    HWND dialog = nullptr;
    std::string header, version, build, rights, idea, programmer;
    bool placeHolderVisible = true;
    HWND link = nullptr;
    RECT linkRect = {}, placeRect = {};
    MIVO_HypCtrlInfo linkRecord = {};
    std::string linkText, linkUrl, linkTooltip;
    LONG labelWeight = 0, valueWeight = 0, headerWeight = 0, headerHeight = 0;
    POINT centre = {};
    bool openAfterEnterAndEscape = false;
};

AboutSeen DriveAbout(const char* caption, bool viaSystemMenu) {
    AboutSeen seen;
    HWND dialog = uiprobe::WaitForWindow(kDialogClass, caption);
    if (dialog == nullptr) return seen;
    seen.dialog = dialog;
    seen.header = ItemText(dialog, IDC_ABOUT_HEADER_TEXT);
    seen.version = ItemText(dialog, IDC_ABOUT_VERSION);
    seen.build = ItemText(dialog, IDC_ABOUT_BUILD);
    seen.rights = ItemText(dialog, IDC_ABOUT_RIGHTS);
    seen.idea = ItemText(dialog, IDC_ABOUT_IDEA);
    seen.programmer = ItemText(dialog, IDC_ABOUT_PROGRAMMER);
    seen.placeHolderVisible = IsWindowVisible(GetDlgItem(dialog, IDC_ABOUT_LINK_PLACE));
    seen.placeRect = uiprobe::RectInParent(GetDlgItem(dialog, IDC_ABOUT_LINK_PLACE));
    seen.link = FindWindowExA(dialog, nullptr, mivo::hyperlink::kClassName, nullptr);
    if (seen.link != nullptr) {
        seen.linkRect = uiprobe::RectInParent(seen.link);
        const auto* record = reinterpret_cast<const MIVO_HypCtrlInfo*>(
            GetWindowLongPtrA(seen.link, mivo::hyperlink::kRecordOffset));
        if (record != nullptr) {
            seen.linkRecord = *record;
            seen.linkText = record->text ? record->text : "(null)";
            seen.linkUrl = record->url ? record->url : "(null)";
            seen.linkTooltip = record->tooltip ? record->tooltip : "(null)";
        }
    }
    seen.labelWeight = FontOf(GetDlgItem(dialog, IDC_ABOUT_PROGRAMMER_LABEL)).lfWeight;
    seen.valueWeight = FontOf(GetDlgItem(dialog, IDC_ABOUT_PROGRAMMER)).lfWeight;
    const LOGFONTA header = FontOf(GetDlgItem(dialog, IDC_ABOUT_HEADER_TEXT));
    seen.headerWeight = header.lfWeight;
    seen.headerHeight = header.lfHeight;
    seen.centre = Centre(dialog);

    // Enter and Escape do nothing: the dialog stays up.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    seen.openAfterEnterAndEscape = IsWindow(dialog) && IsWindowVisible(dialog);

    if (viaSystemMenu) {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABOUT_OK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_ABOUT_OK)));
    }
    uiprobe::WaitUntil([&] { return !IsWindow(dialog); });
    return seen;
}

MIVO_DlgInfo AboutRecord(HWND parent) {
    MIVO_DlgInfo info = {};
    info.instance = GetModuleHandleA(nullptr);
    info.parent = parent;
    info.icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    info.name = "Mivo Test";
    info.version = "1.2.3";
    info.build = 4711;
    info.rights = "(C) The testers";
    info.ideaCredit = "An idea";
    info.programmerCredit = "A programmer";
    info.linkText = "Our web site";
    info.linkUrl = "http://example.org/";
    info.linkTooltip = "Visit us";
    return info;
}

TEST(MivoAboutDialog, ShowsTheRecordAndTheLinkAndReturnsOne) {
    HWND parent = uiprobe::MakeParent(100, 80, 600, 450, true);
    MIVO_DlgInfo info = AboutRecord(parent);
    AboutSeen seen;
    const INT_PTR result = RunModal([&] { return MIVO_DlgAbout(&info); },
                                    [&] { seen = DriveAbout("Mivo Test v1.2.3", false); });
    EXPECT_EQ(result, 1);
    ASSERT_NE(seen.dialog, nullptr) << "no dialog captioned \"Mivo Test v1.2.3\"";
    EXPECT_EQ(seen.header, "Mivo Test");
    EXPECT_EQ(seen.version, "1.2.3");
    EXPECT_EQ(seen.build, "4711");
    EXPECT_EQ(seen.rights, "(C) The testers");
    EXPECT_EQ(seen.idea, "An idea");
    EXPECT_EQ(seen.programmer, "A programmer");
    EXPECT_EQ(seen.labelWeight, FW_BOLD);
    EXPECT_LT(seen.valueWeight, FW_BOLD);
    EXPECT_EQ(seen.headerWeight, FW_BOLD);
    EXPECT_EQ(seen.headerHeight, 25);
    EXPECT_TRUE(seen.openAfterEnterAndEscape);

    EXPECT_FALSE(seen.placeHolderVisible);
    ASSERT_NE(seen.link, nullptr);
    EXPECT_EQ(seen.linkRect.left, seen.placeRect.left);
    EXPECT_EQ(seen.linkRect.top, seen.placeRect.top);
    EXPECT_EQ(seen.linkRect.right, seen.placeRect.right);
    EXPECT_EQ(seen.linkRect.bottom, seen.placeRect.bottom);
    EXPECT_EQ(seen.linkText, "Our web site");
    EXPECT_EQ(seen.linkUrl, "http://example.org/");
    EXPECT_EQ(seen.linkTooltip, "Visit us");
    EXPECT_EQ(seen.linkRecord.textColour, 0x3B3B3Bu);
    EXPECT_EQ(seen.linkRecord.hoverTextColour, 0x0000FFu);
    EXPECT_EQ(seen.linkRecord.backgroundColour, 0xFFFFFFu);
    EXPECT_EQ(seen.linkRecord.hoverBackgroundColour, 0xFFFFFFu);
    EXPECT_EQ(seen.linkRecord.fontStyle, 1u);
    EXPECT_EQ(seen.linkRecord.format, 0x24u);

    const POINT parentCentre = Centre(parent);
    EXPECT_LE(std::abs(seen.centre.x - parentCentre.x), 1);
    EXPECT_LE(std::abs(seen.centre.y - parentCentre.y), 1);
    EXPECT_EQ(GetFocus(), parent) << "the focus goes back to the owner";
    DestroyWindow(parent);
}

TEST(MivoAboutDialog, NoLinkWithoutAllThreeTextsAndTheCloseBoxEndsIt) {
    HWND parent = uiprobe::MakeParent(0, 0, 300, 200);
    MIVO_DlgInfo info = AboutRecord(parent);
    info.linkTooltip = nullptr;
    info.name = "Other";
    info.version = "9";
    AboutSeen seen;
    const INT_PTR result =
        RunModal([&] { return MIVO_DlgAbout(&info); }, [&] { seen = DriveAbout("Other v9", true); });
    EXPECT_EQ(result, 1);
    ASSERT_NE(seen.dialog, nullptr);
    EXPECT_EQ(seen.link, nullptr);
    EXPECT_FALSE(seen.placeHolderVisible);
    EXPECT_EQ(MIVO_DlgAbout(nullptr), -1);
    DestroyWindow(parent);
}

struct ModulesSeen {
    HWND dialog = nullptr;
    int rows = -1;
    std::vector<std::string> listedPaths;
    std::vector<std::string> loadedPaths;  // in load order, "ERROR" where the list cannot read a version
    std::string total, header, columns;
    LONG totalWeight = 0;
    int countedKinds = 0;
    int errorRows = 0;
    std::vector<std::string> unsorted;  // what failed to be in order, by column
    RECT before[5] = {}, after[5] = {};
    SIZE firstSize = {}, shrunkSize = {};
};

std::vector<std::string> Column(HWND list, int column) {
    std::vector<std::string> texts;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[1024] = {};
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        texts.push_back(text);
    }
    return texts;
}

// Empty when the column is in ascending case-insensitive order, else the pair out of order.
std::string OrderProblem(HWND list, int column) {
    const auto texts = Column(list, column);
    for (size_t i = 1; i < texts.size(); ++i) {
        if (mivo::CompareNoCase(texts[i - 1].c_str(), texts[i].c_str()) > 0) {
            return "column " + std::to_string(column) + ": \"" + texts[i - 1] + "\" before \"" + texts[i] + "\"";
        }
    }
    return "";
}

void ClickHeader(HWND dialog, HWND list, int column) {
    NMLISTVIEW click = {};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = IDC_MODULES_LIST;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageA(dialog, WM_NOTIFY, IDC_MODULES_LIST, reinterpret_cast<LPARAM>(&click));
}

constexpr int kWatched[5] = {IDC_MODULES_EXPORT, IDC_MODULES_OK, IDC_MODULES_HEADER_BAND, IDC_MODULES_LIST,
                             IDC_MODULES_TOTAL};

ModulesSeen DriveModules(const char* caption) {
    ModulesSeen seen;
    HWND dialog = uiprobe::WaitForWindow(kDialogClass, caption);
    if (dialog == nullptr) return seen;
    seen.dialog = dialog;
    HWND list = GetDlgItem(dialog, IDC_MODULES_LIST);
    seen.rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    seen.listedPaths = Column(list, 2);
    seen.loadedPaths = LoadedModulePaths();
    seen.total = ItemText(dialog, IDC_MODULES_TOTAL);
    seen.totalWeight = FontOf(GetDlgItem(dialog, IDC_MODULES_TOTAL)).lfWeight;
    seen.header = ItemText(dialog, IDC_MODULES_HEADER_TEXT);
    for (int i = 0; i < 3; ++i) {
        char title[64] = {};
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
        seen.columns += std::string(i ? "|" : "") + title;
    }
    for (int id : {IDC_MODULES_UNKNOWN, IDC_MODULES_APPLICATION, IDC_MODULES_DLL, IDC_MODULES_DRIVER,
                   IDC_MODULES_FONT, IDC_MODULES_VXD, IDC_MODULES_STATIC}) {
        seen.countedKinds += std::atoi(ItemText(dialog, id).c_str());
    }
    for (const std::string& type : Column(list, 1)) seen.errorRows += type == mivo::kModuleErrorText;

    // Opened sorted by path; each header click sorts ascending, also twice in a row.
    std::string problem = OrderProblem(list, 2);
    if (!problem.empty()) seen.unsorted.push_back("initially " + problem);
    for (int column : {0, 1, 1, 2, 0}) {
        ClickHeader(dialog, list, column);
        problem = OrderProblem(list, column);
        if (!problem.empty()) seen.unsorted.push_back(problem);
    }

    // Grow by 100 pixels in width, then try to shrink below the first size.
    for (int i = 0; i < 5; ++i) seen.before[i] = uiprobe::RectInParent(GetDlgItem(dialog, kWatched[i]));
    RECT window = {};
    GetWindowRect(dialog, &window);
    seen.firstSize = SIZE{window.right - window.left, window.bottom - window.top};
    SetWindowPos(dialog, nullptr, 0, 0, seen.firstSize.cx + 100, seen.firstSize.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int i = 0; i < 5; ++i) seen.after[i] = uiprobe::RectInParent(GetDlgItem(dialog, kWatched[i]));
    SetWindowPos(dialog, nullptr, 0, 0, seen.firstSize.cx - 100, seen.firstSize.cy - 100,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(dialog, &window);
    seen.shrunkSize = SIZE{window.right - window.left, window.bottom - window.top};

    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_MODULES_OK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_MODULES_OK)));
    uiprobe::WaitUntil([&] { return !IsWindow(dialog); });
    return seen;
}

TEST(MivoModulesDialog, ListsSortsResizesAndReturnsOne) {
    HWND parent = uiprobe::MakeParent(50, 50, 500, 400, true);
    MIVO_DlgInfo info = {};
    info.parent = parent;
    info.icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    info.name = "Mivo module test";
    ModulesSeen seen;
    const INT_PTR result =
        RunModal([&] { return MIVO_DlgModules(&info); }, [&] { seen = DriveModules("Mivo module test"); });
    EXPECT_EQ(result, 1);
    ASSERT_NE(seen.dialog, nullptr);
    EXPECT_EQ(seen.header, "Mivo module test");
    EXPECT_EQ(seen.columns, "Version|Type|Module path/name");
    // The list holds every module loaded when it was filled: the first rows of
    // the load order now (showing the dialog may load more after that).
    EXPECT_GT(seen.rows, 5);
    ASSERT_LE(static_cast<size_t>(seen.rows), seen.loadedPaths.size());
    std::vector<std::string> loaded(seen.loadedPaths.begin(), seen.loadedPaths.begin() + seen.rows);
    std::sort(loaded.begin(), loaded.end());
    std::sort(seen.listedPaths.begin(), seen.listedPaths.end());
    EXPECT_EQ(seen.listedPaths, loaded);
    EXPECT_EQ(seen.total, std::to_string(seen.rows));
    EXPECT_EQ(seen.totalWeight, FW_BOLD);
    EXPECT_EQ(seen.countedKinds + seen.errorRows, seen.rows);
    EXPECT_TRUE(seen.unsorted.empty()) << seen.unsorted.front();

    // Export and OK move right, the header band and the list stretch, the counters stay.
    const int moved[5][4] = {{100, 0, 100, 0}, {100, 0, 100, 0}, {0, 0, 100, 0}, {0, 0, 100, 0}, {0, 0, 0, 0}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(seen.after[i].left - seen.before[i].left, moved[i][0]) << "control " << kWatched[i];
        EXPECT_EQ(seen.after[i].top - seen.before[i].top, moved[i][1]) << "control " << kWatched[i];
        EXPECT_EQ(seen.after[i].right - seen.before[i].right, moved[i][2]) << "control " << kWatched[i];
        EXPECT_EQ(seen.after[i].bottom - seen.before[i].bottom, moved[i][3]) << "control " << kWatched[i];
    }
    EXPECT_EQ(seen.shrunkSize.cx, seen.firstSize.cx);
    EXPECT_EQ(seen.shrunkSize.cy, seen.firstSize.cy);
    DestroyWindow(parent);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> CrLfLines(const std::string& text, bool* bareLineFeed) {
    std::vector<std::string> lines;
    size_t start = 0;
    *bareLineFeed = false;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', start)) {
        if (at == 0 || text[at - 1] != '\r') {
            *bareLineFeed = true;
            lines.push_back(text.substr(start, at - start));
        } else {
            lines.push_back(text.substr(start, at - 1 - start));
        }
        start = at + 1;
    }
    if (start != text.size()) lines.push_back(text.substr(start));  // an unterminated tail
    return lines;
}

std::string TempPath(const char* name) {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name;
}

// Checks an export of this process. With `current`, the file was written just
// now and its rows must be this process's modules in load order; otherwise
// only the format and the summary's sums are checked. The total is returned.
int CheckExport(const std::string& text, bool current) {
    bool bare = true;
    const auto lines = CrLfLines(text, &bare);
    EXPECT_FALSE(bare) << "every line ends in CR LF";
    if (text.size() < 2) {
        ADD_FAILURE() << "export is empty";
        return -1;
    }
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    const std::vector<std::string> heading = {
        std::string(97, '='),
        "                                     Module versions export",
        std::string(97, '='),
        "",
        "Version                        Type                      Module path/name",
        "-------------------------      --------------------      ----------------------------------------",
    };
    if (lines.size() <= heading.size()) {
        ADD_FAILURE() << "export has only " << lines.size() << " lines";
        return -1;
    }
    for (size_t i = 0; i < heading.size(); ++i) EXPECT_EQ(lines[i], heading[i]) << "heading line " << i;

    std::vector<HMODULE> handles(mivo::kMaxModules);
    DWORD needed = 0;
    EnumProcessModules(GetCurrentProcess(), handles.data(), static_cast<DWORD>(handles.size() * sizeof(HMODULE)), &needed);
    size_t at = heading.size();
    int rows = 0;
    mivo::ModuleTally tally;
    for (; at < lines.size() && lines[at] != std::string(92, '='); ++at, ++rows) {
        const std::string& row = lines[at];
        if (row.size() < 58u) {
            ADD_FAILURE() << "short row: " << row;
            continue;
        }
        const std::string version = row.substr(0, 25);
        EXPECT_NE(version.back(), ' ') << "version right-aligned: " << row;
        EXPECT_EQ(row.substr(25, 6), "      ") << row;
        std::string type = row.substr(31, 25);
        EXPECT_EQ(row[56], ' ') << row;
        const std::string path = row.substr(57);
        type.erase(type.find_last_not_of(' ') + 1);
        if (type == mivo::kModuleErrorText) {
            EXPECT_EQ(path, mivo::kModuleErrorText);
            tally.AddRow();
            continue;
        }
        if (current) {
            // The row is this module, in load order.
            char expectedPath[MAX_PATH] = {};
            if (rows < static_cast<int>(needed / sizeof(HMODULE))) {
                GetModuleFileNameExA(GetCurrentProcess(), handles[rows], expectedPath, sizeof expectedPath);
            }
            EXPECT_EQ(path, expectedPath) << "row " << rows;
        }
        char typeText[mivo::kModuleTypeSize];
        bool known = false;
        for (unsigned long fileType = 0; fileType <= 7 && !known; ++fileType) {
            for (unsigned long sub = 0; sub <= 12 && !known; ++sub) {
                const mivo::ModuleKind kind = mivo::DescribeModuleType(fileType, sub, typeText, sizeof typeText);
                if (type == typeText) {
                    tally.AddKind(kind);
                    known = true;
                }
            }
        }
        EXPECT_TRUE(known) << "type \"" << type << "\"";
        tally.AddRow();
    }
    if (current) {
        EXPECT_EQ(rows, static_cast<int>(needed / sizeof(HMODULE)));
    }

    // The summary is exactly what the rows add up to.
    std::string expectedSummary = std::string(92, '=') + "\r\n";
    char line[64];
    std::snprintf(line, sizeof line, "%25s: %5d\r\n", "Modules", tally.total);
    expectedSummary += line + std::string(32, '-') + "\r\n";
    for (int kind = 0; kind < mivo::kModuleKindCount; ++kind) {
        if (tally.byKind[kind] == 0) continue;
        std::snprintf(line, sizeof line, "%25s: %5d\r\n", mivo::ModuleKindWord(static_cast<mivo::ModuleKind>(kind)),
                      tally.byKind[kind]);
        expectedSummary += line;
    }
    expectedSummary += std::string(32, '=') + "\r\n";
    const size_t summaryStart = text.find("\r\n" + std::string(92, '=') + "\r\n");
    EXPECT_NE(summaryStart, std::string::npos);
    if (summaryStart != std::string::npos) {
        EXPECT_EQ(text.substr(summaryStart + 2), expectedSummary);
    }
    return tally.total;
}

TEST(MivoModuleExport, TextFileMatchesTheFormatWithCrLf) {
    const std::string path = TempPath("mivo_export_direct.txt");
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(mivo::ExportModules(file));
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(CheckExport(ReadFile(path), true), ProcessModuleCount());
    DeleteFileA(path.c_str());
}

// A visible dialog-class window of this process with that caption that is none of `not`.
HWND FindOtherDialog(const char* caption, std::initializer_list<HWND> not_) {
    for (HWND window = FindWindowExA(nullptr, nullptr, kDialogClass, caption); window != nullptr;
         window = FindWindowExA(nullptr, window, kDialogClass, caption)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) continue;
        if (std::find(not_.begin(), not_.end(), window) == not_.end()) return window;
    }
    return nullptr;
}

BOOL CALLBACK FindFileNameEdit(HWND child, LPARAM param) {
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    // The file name box: an edit of its own or the edit inside the name combo.
    const int id = GetDlgCtrlID(child);
    const int parentId = GetDlgCtrlID(GetParent(child));
    if (lstrcmpiA(cls, "Edit") == 0 && IsWindowVisible(child) && (id == kFileNameEdit || parentId == kFileNameCombo)) {
        *reinterpret_cast<HWND*>(param) = child;
        return FALSE;
    }
    return TRUE;
}

struct ExportSeen {
    bool saveDialog = false;
    std::string saveTitle;
    std::string boxText;
    int rowsAfter = -1;
};

ExportSeen DriveExport(const char* caption, const std::string& path) {
    ExportSeen seen;
    HWND dialog = uiprobe::WaitForWindow(kDialogClass, caption);
    if (dialog == nullptr) return seen;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_MODULES_EXPORT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_MODULES_EXPORT)));
    HWND save = uiprobe::WaitForWindow(kDialogClass, "Save...");
    if (save != nullptr) {
        seen.saveDialog = true;
        HWND name = nullptr;
        uiprobe::WaitUntil([&] {
            EnumChildWindows(save, FindFileNameEdit, reinterpret_cast<LPARAM>(&name));
            return name != nullptr;
        });
        SetWindowTextA(name, path.c_str());
        PostMessageA(save, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        HWND box = nullptr;
        uiprobe::WaitUntil([&] { return (box = FindOtherDialog(caption, {dialog, save})) != nullptr; });
        if (box != nullptr) {
            seen.boxText = testsupport::BoxText(box);
            seen.rowsAfter = static_cast<int>(SendDlgItemMessageA(dialog, IDC_MODULES_LIST, LVM_GETITEMCOUNT, 0, 0));
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            uiprobe::WaitUntil([&] { return !IsWindow(box); });
        }
    }
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    uiprobe::WaitUntil([&] { return !IsWindow(dialog); });
    return seen;
}

TEST(MivoModulesDialog, ExportsThroughTheSaveDialog) {
    const std::string path = TempPath("mivo_export_dialog.txt");
    DeleteFileA(path.c_str());
    MIVO_DlgInfo info = {};
    info.name = "Mivo export test";
    ExportSeen seen;
    const INT_PTR result =
        RunModal([&] { return MIVO_DlgModules(&info); }, [&] { seen = DriveExport("Mivo export test", path); });
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(seen.saveDialog) << "no \"Save...\" dialog";
    EXPECT_EQ(seen.boxText, "File saved");
    // The file was written while the save dialog's own modules were loaded;
    // the list was filled again right after, from the same modules.
    const int total = CheckExport(ReadFile(path), false);
    EXPECT_GT(total, 5);
    EXPECT_EQ(seen.rowsAfter, total);
    DeleteFileA(path.c_str());
}

}  // namespace
