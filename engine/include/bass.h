// The audio engine's C interface (bass.dll, version 2.4): exactly the calls,
// constants and callback shapes the player relies on. Our engine (engine/)
// implements it; the program imports it by name.
#pragma once

#include <windows.h>

#include "bass_constants.h"  // beside this file

#ifdef BASS_BUILDING_ENGINE
#define BASSDEF(f) extern "C" __declspec(dllexport) f WINAPI
#else
#define BASSDEF(f) extern "C" __declspec(dllimport) f WINAPI
#endif

typedef unsigned long long QWORD;
typedef DWORD HSTREAM;  // stream handle, 0 = none
typedef DWORD HSYNC;    // sync handle, 0 = failure

// Status texts and downloaded data of a URL stream.
typedef void(CALLBACK DOWNLOADPROC)(const void* buffer, DWORD length, void* user);
// Sync events.
typedef void(CALLBACK SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, void* user);

BASSDEF(DWORD) BASS_GetVersion(void);
BASSDEF(BOOL) BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* dsguid);
BASSDEF(BOOL) BASS_Free(void);
BASSDEF(BOOL) BASS_SetConfig(DWORD option, DWORD value);
BASSDEF(int) BASS_ErrorGetCode(void);
BASSDEF(HSTREAM) BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags,
                                      DOWNLOADPROC* proc, void* user);
BASSDEF(BOOL) BASS_StreamFree(HSTREAM handle);
BASSDEF(QWORD) BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);
BASSDEF(const char*) BASS_ChannelGetTags(DWORD handle, DWORD tags);
BASSDEF(HSYNC) BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc,
                                   void* user);
BASSDEF(BOOL) BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
BASSDEF(BOOL) BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value);
BASSDEF(BOOL) BASS_ChannelSlideAttribute(DWORD handle, DWORD attrib, float value, DWORD time);
BASSDEF(BOOL) BASS_ChannelPlay(DWORD handle, BOOL restart);
BASSDEF(DWORD) BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
BASSDEF(DWORD) BASS_ChannelGetLevel(DWORD handle);
