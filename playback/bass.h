// The audio engine's C interface (bass.dll, version 2.4): exactly the calls,
// constants and callback shapes the player relies on. Our engine (engine/)
// implements it; the program imports it by name.
#pragma once

#include <windows.h>

#include "versions.h"

#ifdef BASS_BUILDING_ENGINE
#define BASSDEF(f) extern "C" __declspec(dllexport) f WINAPI
#else
#define BASSDEF(f) extern "C" __declspec(dllimport) f WINAPI
#endif

typedef unsigned long long QWORD;
typedef DWORD HSTREAM;  // stream handle, 0 = none
typedef DWORD HSYNC;    // sync handle, 0 = failure

#define BASSVERSION BASS_INTERFACE_VERSION  // high word of BASS_GetVersion

// Error codes (BASS_ErrorGetCode).
#define BASS_OK 0
#define BASS_ERROR_MEM 1
#define BASS_ERROR_FILEOPEN 2
#define BASS_ERROR_DRIVER 3
#define BASS_ERROR_BUFLOST 4
#define BASS_ERROR_HANDLE 5
#define BASS_ERROR_FORMAT 6
#define BASS_ERROR_POSITION 7
#define BASS_ERROR_INIT 8
#define BASS_ERROR_START 9
#define BASS_ERROR_SSL 10
#define BASS_ERROR_ALREADY 14
#define BASS_ERROR_NOTAUDIO 17
#define BASS_ERROR_NOCHAN 18
#define BASS_ERROR_ILLTYPE 19
#define BASS_ERROR_ILLPARAM 20
#define BASS_ERROR_NO3D 21
#define BASS_ERROR_NOEAX 22
#define BASS_ERROR_DEVICE 23
#define BASS_ERROR_NOPLAY 24
#define BASS_ERROR_FREQ 25
#define BASS_ERROR_NOTFILE 27
#define BASS_ERROR_NOHW 29
#define BASS_ERROR_EMPTY 31
#define BASS_ERROR_NONET 32
#define BASS_ERROR_CREATE 33
#define BASS_ERROR_NOFX 34
#define BASS_ERROR_NOTAVAIL 37
#define BASS_ERROR_DECODE 38
#define BASS_ERROR_DX 39
#define BASS_ERROR_TIMEOUT 40
#define BASS_ERROR_FILEFORM 41
#define BASS_ERROR_SPEAKER 42
#define BASS_ERROR_VERSION 43
#define BASS_ERROR_CODEC 44
#define BASS_ERROR_ENDED 45
#define BASS_ERROR_BUSY 46
#define BASS_ERROR_UNKNOWN -1

// BASS_SetConfig options.
#define BASS_CONFIG_NET_PREBUF 15
#define BASS_CONFIG_NET_PLAYLIST 21

// BASS_StreamCreateURL flags.
#define BASS_STREAM_AUTOFREE 0x40000
#define BASS_STREAM_BLOCK 0x100000
#define BASS_STREAM_STATUS 0x800000

// BASS_StreamGetFilePosition modes.
#define BASS_FILEPOS_CURRENT 0
#define BASS_FILEPOS_DOWNLOAD 1
#define BASS_FILEPOS_END 2

// BASS_ChannelGetTags types.
#define BASS_TAG_OGG 2
#define BASS_TAG_HTTP 3
#define BASS_TAG_ICY 4
#define BASS_TAG_META 5

// BASS_ChannelSetSync types.
#define BASS_SYNC_END 2
#define BASS_SYNC_META 4
#define BASS_SYNC_OGG_CHANGE 12

// Channel attributes.
#define BASS_ATTRIB_FREQ 1
#define BASS_ATTRIB_VOL 2
#define BASS_ATTRIB_PAN 3

// BASS_ChannelGetData: 2048-point FFT, 1024 magnitudes.
#define BASS_DATA_FFT2048 0x80000003

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
