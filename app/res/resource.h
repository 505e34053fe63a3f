// Resource and control ids of the program, shared by its .rc, the language
// libraries (menu 200) and the code.
#pragma once

#include "common/main_dialog_ids.h"

// The main window's menu (a placeholder here, the real one in the language library).
#define IDM_MAIN 200

// Menu commands.
#define IDM_EXIT 4000
#define IDM_MUTE_ON_LOCK 4010
#define IDM_MUTE_EFFECT 4011
#define IDM_SHOW_SPECTRUM 4012
#define IDM_CENTER_SPECTRUM 4013
#define IDM_HIDE_SPECTRUM_ON_HOVER 4014
#define IDM_MODULES 4020
#define IDM_ABOUT 4021
