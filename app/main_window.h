// The main window: the modal dialog DLG_MAIN that is the program's whole user
// interface. Its destruction is the program's orderly shutdown.
#pragma once

#include <windows.h>

// What the dialog ends with; the entry function returns it as the exit code.
constexpr INT_PTR kMainDialogResult = 1;

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the title to the versioned caption, followed by ": text" when text is
// not empty (cut to the caption buffer's size).
void SetMainTitle(const char* text);
