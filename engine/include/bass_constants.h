// The engine interface's constants: error codes, options, flags, tag, sync
// and attribute types. No windows.h, so portable code (the player's error
// table, say) can name them too; bass.h includes this.
#pragma once

#include "versions.h"

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
