// The module list (ordinal 4): every module loaded in this process with its
// file version and type, sortable by column, with counts and a text export.
#include "mivo.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_common.h"
#include "library.h"
#include "module_list.h"
#include "resource.h"

namespace {

// One listed module; the list view's item data is its index here.
struct Row {
    std::string columns[3];  // version, type, path
};

// State of the open module dialog; one can be open at a time.
struct ModulesState {
    const MIVO_DlgInfo* info = nullptr;
    HWND dialog = nullptr;
    HWND list = nullptr;
    std::vector<Row> rows;
};
ModulesState g_modules;

constexpr int kPathColumn = 2;
constexpr int kColumnCount = 3;
constexpr int kSortTextSize = 1024;
constexpr int kCountTextSize = 16;
constexpr DWORD kSavePathSize = 520;

struct Column {
    const char* title;
    int width;
};
constexpr Column kColumns[kColumnCount] = {{"Version", 150}, {"Type", 150}, {"Module path/name", 400}};

// Value control of each kind's counter, in the order of mivo::ModuleKind.
constexpr int kKindCounters[mivo::kModuleKindCount] = {
    IDC_MODULES_UNKNOWN, IDC_MODULES_APPLICATION, IDC_MODULES_DLL,   IDC_MODULES_DRIVER,
    IDC_MODULES_FONT,    IDC_MODULES_VXD,         IDC_MODULES_STATIC,
};

// How each control follows the window's size.
constexpr MIVO_ResizeItem kLayout[] = {
    {IDC_MODULES_HEADER_BAND, 4}, {IDC_MODULES_HEADER_ICON, 1},  {IDC_MODULES_HEADER_TEXT, 4},
    {IDC_MODULES_HEADER_LINE, 4}, {IDC_MODULES_OK, 3},           {IDC_MODULES_EXPORT, 3},
    {IDC_MODULES_LIST, 12},       {IDC_MODULES_FOOTER_LINE, 6},  {IDC_MODULES_FOOTER_SPLIT, 2},
    {IDC_MODULES_FOOTER_BAND, 6}, {IDC_MODULES_TOTAL_LABEL, 2},  {IDC_MODULES_UNKNOWN_LABEL, 2},
    {IDC_MODULES_APPLICATION_LABEL, 2}, {IDC_MODULES_DLL_LABEL, 2}, {IDC_MODULES_DRIVER_LABEL, 2},
    {IDC_MODULES_FONT_LABEL, 2},  {IDC_MODULES_VXD_LABEL, 2},    {IDC_MODULES_STATIC_LABEL, 2},
    {IDC_MODULES_TOTAL, 2},       {IDC_MODULES_UNKNOWN, 2},      {IDC_MODULES_APPLICATION, 2},
    {IDC_MODULES_DLL, 2},         {IDC_MODULES_DRIVER, 2},       {IDC_MODULES_FONT, 2},
    {IDC_MODULES_VXD, 2},         {IDC_MODULES_STATIC, 2},
};

// Drawn by hand or lying across others: repainted after every size change.
constexpr int kRepaintedOnSize[] = {
    IDC_MODULES_HEADER_BAND, IDC_MODULES_HEADER_LINE, IDC_MODULES_HEADER_ICON,
    IDC_MODULES_HEADER_TEXT, IDC_MODULES_FOOTER_LINE, IDC_MODULES_FOOTER_SPLIT,
    IDC_MODULES_FOOTER_BAND, IDC_MODULES_OK,          IDC_MODULES_EXPORT,
};

const char* Name() { return g_modules.info->name != nullptr ? g_modules.info->name : ""; }

void ShowCount(int id, int count) {
    char text[kCountTextSize];
    snprintf(text, sizeof text, "%d", count);
    HWND control = GetDlgItem(g_modules.dialog, id);
    SetWindowTextA(control, text);
    MIVO_UiSetFont(control, MIVO_FONT_BOLD, 0, 0);
}

// Fills the list view and the counters.
class ListSink : public mivo::ModuleSink {
public:
    void Begin() override {
        SendMessageA(g_modules.list, LVM_DELETEALLITEMS, 0, 0);
        g_modules.rows.clear();
    }

    void Row(int index, const char* version, const char* type, const char* path) override {
        g_modules.rows.push_back(::Row{{version, type, path}});
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = index;
        item.pszText = const_cast<char*>(version);
        item.lParam = static_cast<LPARAM>(g_modules.rows.size() - 1);
        const int at = static_cast<int>(SendMessageA(g_modules.list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        if (at < 0) return;
        SetSubItem(at, 1, type);
        SetSubItem(at, 2, path);
    }

    void End(const mivo::ModuleTally& tally) override {
        for (int column = 0; column < kColumnCount; ++column) {
            SendMessageA(g_modules.list, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE);
        }
        // A kind counted 0 keeps what an earlier run wrote.
        if (tally.total != 0) ShowCount(IDC_MODULES_TOTAL, tally.total);
        for (int kind = 0; kind < mivo::kModuleKindCount; ++kind) {
            if (tally.byKind[kind] != 0) ShowCount(kKindCounters[kind], tally.byKind[kind]);
        }
    }

private:
    static void SetSubItem(int at, int column, const char* text) {
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = const_cast<char*>(text);
        SendMessageA(g_modules.list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&item));
    }
};

int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM column) {
    const auto& rows = g_modules.rows;
    if (first < 0 || second < 0 || static_cast<std::size_t>(first) >= rows.size() ||
        static_cast<std::size_t>(second) >= rows.size()) {
        return 0;
    }
    char a[kSortTextSize];
    char b[kSortTextSize];
    snprintf(a, sizeof a, "%s", rows[first].columns[column].c_str());
    snprintf(b, sizeof b, "%s", rows[second].columns[column].c_str());
    return mivo::CompareNoCase(a, b);
}

// Always ascending. LVM_SORTITEMS rather than the index-based variant, which
// some implementations get wrong.
void SortBy(int column) {
    if (column < 0 || column >= kColumnCount) return;
    SendMessageA(g_modules.list, LVM_SORTITEMS, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&CompareRows));
}

void Box(const char* text, UINT icon) { MessageBoxA(g_modules.dialog, text, Name(), MB_OK | icon); }

void Export() {
    char path[kSavePathSize] = {};
    OPENFILENAMEA save = {};
    save.lStructSize = sizeof save;
    save.hwndOwner = g_modules.dialog;
    save.lpstrFilter = "Text (*.txt)\0*.txt\0";
    save.lpstrFile = path;
    save.nMaxFile = kSavePathSize;
    save.lpstrTitle = "Save...";
    save.lpstrDefExt = "txt";
    save.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN |
                 OFN_LONGNAMES | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!GetSaveFileNameA(&save)) return;

    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        Box("Error opening file", MB_ICONSTOP);
        return;
    }
    const bool written = mivo::ExportModules(file);
    // A failed close loses buffered data: that is a failed export too.
    const bool closed = std::fclose(file) == 0;
    if (written && closed) {
        ListSink sink;
        mivo::EnumerateModules(sink);
        SortBy(kPathColumn);
        Box("File saved", MB_ICONINFORMATION);
    } else {
        Box("Error exporting data", MB_ICONSTOP);
    }
}

void AddColumns() {
    SendMessageA(g_modules.list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < kColumnCount; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<char*>(kColumns[i].title);
        column.iSubItem = i;
        SendMessageA(g_modules.list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

// False when the modules could not be listed; the dialog then closes.
bool Initialise(HWND dialog, const MIVO_DlgInfo& info) {
    g_modules.info = &info;
    g_modules.dialog = dialog;
    g_modules.list = GetDlgItem(dialog, IDC_MODULES_LIST);
    SendDlgItemMessageA(dialog, IDC_MODULES_HEADER_ICON, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(info.icon));
    MIVO_UiSetFont(dialog, MIVO_FONT_NORMAL, 1, 0);
    MIVO_UiSetFont(g_modules.list, MIVO_FONT_FIXED, 0, 0);
    MIVO_UiSetFont(GetDlgItem(dialog, IDC_MODULES_HEADER_TEXT), MIVO_FONT_BOLD, 0, mivo::kHeaderFontHeight);

    MIVO_UiResize(mivo::LibraryInstance(), dialog, 0, static_cast<int>(sizeof kLayout / sizeof kLayout[0]), kLayout, 1);

    SetWindowTextA(dialog, Name());
    SetDlgItemTextA(dialog, IDC_MODULES_HEADER_TEXT, Name());
    AddColumns();

    ListSink sink;
    if (!mivo::EnumerateModules(sink)) {
        Box("Error enumerating modules", MB_ICONINFORMATION);
        return false;
    }
    SortBy(kPathColumn);
    MIVO_UiCenterWindow(dialog, info.parent);
    return true;
}

INT_PTR CALLBACK ModulesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (!Initialise(dialog, *reinterpret_cast<const MIVO_DlgInfo*>(lParam))) {
            mivo::CloseLibraryDialog(dialog);
            return FALSE;
        }
        return TRUE;  // the dialog manager sets the focus
    case WM_SIZE:
        // The resizer has moved the controls by now.
        for (int id : kRepaintedOnSize) InvalidateRect(GetDlgItem(dialog, id), nullptr, FALSE);
        return FALSE;
    case WM_DRAWITEM:
        return g_modules.info != nullptr &&
               mivo::DrawDialogHeader(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), IDC_MODULES_HEADER_TEXT,
                                      IDC_MODULES_HEADER_ICON, g_modules.info->name, g_modules.info->icon);
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == g_modules.list && header->code == LVN_COLUMNCLICK) {
            SortBy(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
        }
        return FALSE;
    }
    case WM_COMMAND:
        // Only the two buttons act; Enter and Escape do nothing.
        if (LOWORD(wParam) == IDC_MODULES_OK) mivo::CloseLibraryDialog(dialog);
        if (LOWORD(wParam) == IDC_MODULES_EXPORT) Export();
        return TRUE;
    case WM_CLOSE:
        mivo::CloseLibraryDialog(dialog);
        return TRUE;
    case WM_DESTROY:
        if (g_modules.info != nullptr) mivo::RestoreOwner(g_modules.info->parent);
        g_modules.dialog = nullptr;
        g_modules.list = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

MIVO_API INT_PTR WINAPI MIVO_DlgModules(MIVO_DlgInfo* info) {
    if (info == nullptr || g_modules.info != nullptr) return -1;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const INT_PTR result = DialogBoxParamA(mivo::LibraryInstance(), MAKEINTRESOURCEA(IDD_MIVO_MODULES), info->parent,
                                           &ModulesProc, reinterpret_cast<LPARAM>(info));
    g_modules = ModulesState{};
    return result;
}
