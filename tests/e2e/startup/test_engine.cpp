// A stand-in audio engine for the start-up tests: it exports everything the
// program imports, reports the version it was built with (TEST_ENGINE_VERSION)
// and initialises (unless TEST_ENGINE_INIT_FAILS) and frees. It plays nothing.
#define BASS_BUILDING_ENGINE
#include "engine/include/bass.h"

namespace {
bool g_initialised = false;
}

BASSDEF(DWORD) BASS_GetVersion(void) { return TEST_ENGINE_VERSION; }

BASSDEF(BOOL) BASS_Init(int, DWORD, DWORD, HWND, const void*) {
    if (TEST_ENGINE_INIT_FAILS || g_initialised) return FALSE;
    g_initialised = true;
    return TRUE;
}

BASSDEF(BOOL) BASS_Free(void) {
    const bool was = g_initialised;
    g_initialised = false;
    return was ? TRUE : FALSE;
}

BASSDEF(BOOL) BASS_SetConfig(DWORD, DWORD) { return TRUE; }
BASSDEF(int) BASS_ErrorGetCode(void) { return BASS_ERROR_NOTAVAIL; }
BASSDEF(HSTREAM) BASS_StreamCreateURL(const char*, DWORD, DWORD, DOWNLOADPROC*, void*) { return 0; }
BASSDEF(BOOL) BASS_StreamFree(HSTREAM) { return FALSE; }
BASSDEF(QWORD) BASS_StreamGetFilePosition(HSTREAM, DWORD) { return ~0ULL; }
BASSDEF(const char*) BASS_ChannelGetTags(DWORD, DWORD) { return nullptr; }
BASSDEF(HSYNC) BASS_ChannelSetSync(DWORD, DWORD, QWORD, SYNCPROC*, void*) { return 0; }
BASSDEF(BOOL) BASS_ChannelSetAttribute(DWORD, DWORD, float) { return FALSE; }
BASSDEF(BOOL) BASS_ChannelGetAttribute(DWORD, DWORD, float*) { return FALSE; }
BASSDEF(BOOL) BASS_ChannelSlideAttribute(DWORD, DWORD, float, DWORD) { return FALSE; }
BASSDEF(BOOL) BASS_ChannelPlay(DWORD, BOOL) { return FALSE; }
BASSDEF(DWORD) BASS_ChannelGetData(DWORD, void*, DWORD) { return static_cast<DWORD>(-1); }
BASSDEF(DWORD) BASS_ChannelGetLevel(DWORD) { return static_cast<DWORD>(-1); }
