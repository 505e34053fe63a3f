// The exported calls: argument checks, the per-thread error code, and the
// hand-over to the engine. Every failure sets the error; success sets BASS_OK.
#include <cstring>
#include <new>

#include "engine/engine.h"
#include "engine/include/bass.h"
#include "versions.h"

using engine::Engine;
using engine::SetError;

namespace {

constexpr DWORD kVersion = BASS_VERSION_WORD;
constexpr DWORD kFail = static_cast<DWORD>(-1);
constexpr QWORD kFailPosition = static_cast<QWORD>(-1);
constexpr DWORD kFftFloats = 1024;

BOOL Result(int error) {
    SetError(error);
    return error == 0 ? TRUE : FALSE;
}

std::shared_ptr<engine::Stream> FindStream(DWORD handle) {
    auto s = Engine::Get().Find(handle);
    if (!s) SetError(BASS_ERROR_HANDLE);
    return s;
}

}  // namespace

BASSDEF(DWORD) BASS_GetVersion(void) { return kVersion; }

BASSDEF(BOOL) BASS_Init(int device, DWORD freq, DWORD, HWND, const void*) {
    return Result(Engine::Get().Init(device, freq));
}

BASSDEF(BOOL) BASS_Free(void) { return Result(Engine::Get().Free()); }

BASSDEF(BOOL) BASS_SetConfig(DWORD option, DWORD value) {
    return Result(Engine::Get().SetConfig(option, value));
}

BASSDEF(int) BASS_ErrorGetCode(void) { return engine::LastError(); }

BASSDEF(HSTREAM) BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags,
                                      DOWNLOADPROC* proc, void* user) {
    // Radio has no start to seek from: only offset 0 makes sense.
    if (offset != 0) {
        SetError(BASS_ERROR_ILLPARAM);
        return 0;
    }
    int error = 0;
    HSTREAM h = 0;
    try {
        h = Engine::Get().CreateUrlStream(url, flags, proc, user, &error);
    } catch (const std::bad_alloc&) {
        error = BASS_ERROR_MEM;
    }
    SetError(h ? BASS_OK : error);
    return h;
}

BASSDEF(BOOL) BASS_StreamFree(HSTREAM handle) { return Result(Engine::Get().FreeStream(handle)); }

BASSDEF(QWORD) BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
    auto s = FindStream(handle);
    if (!s) return kFailPosition;
    int error = 0;
    QWORD pos = s->FilePosition(mode, &error);
    SetError(error);
    return error ? kFailPosition : pos;
}

BASSDEF(const char*) BASS_ChannelGetTags(DWORD handle, DWORD tags) {
    auto s = FindStream(handle);
    if (!s) return nullptr;
    const char* t = s->Tags(tags);
    SetError(t ? BASS_OK : BASS_ERROR_NOTAVAIL);
    return t;
}

BASSDEF(HSYNC) BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD, SYNCPROC* proc, void* user) {
    auto s = FindStream(handle);
    if (!s) return 0;
    if (type != BASS_SYNC_META && type != BASS_SYNC_OGG_CHANGE && type != BASS_SYNC_END) {
        SetError(BASS_ERROR_ILLTYPE);
        return 0;
    }
    if (!proc) {
        SetError(BASS_ERROR_ILLPARAM);
        return 0;
    }
    SetError(BASS_OK);
    return s->AddSync(type, proc, user);
}

BASSDEF(BOOL) BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
    auto s = FindStream(handle);
    return s ? Result(s->SetAttribute(attrib, value)) : FALSE;
}

BASSDEF(BOOL) BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value) {
    auto s = FindStream(handle);
    return s ? Result(s->GetAttribute(attrib, value)) : FALSE;
}

BASSDEF(BOOL) BASS_ChannelSlideAttribute(DWORD handle, DWORD attrib, float value, DWORD time) {
    auto s = FindStream(handle);
    return s ? Result(s->SlideAttribute(attrib, value, time)) : FALSE;
}

BASSDEF(BOOL) BASS_ChannelPlay(DWORD handle, BOOL) { return Result(Engine::Get().Play(handle)); }

BASSDEF(DWORD) BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    auto s = FindStream(handle);
    if (!s) return kFail;
    if (length != BASS_DATA_FFT2048 || !buffer) {
        SetError(BASS_ERROR_ILLPARAM);
        return kFail;
    }
    auto device = Engine::Get().device();
    if (!s->playing() || !device) {
        SetError(BASS_ERROR_NOPLAY);
        return kFail;
    }
    s->Spectrum(device->Played(), static_cast<float*>(buffer));
    SetError(BASS_OK);
    return kFftFloats * sizeof(float);
}

BASSDEF(DWORD) BASS_ChannelGetLevel(DWORD handle) {
    auto s = FindStream(handle);
    if (!s) return kFail;
    auto device = Engine::Get().device();
    if (!s->playing() || !device) {
        SetError(BASS_ERROR_NOPLAY);
        return kFail;
    }
    SetError(BASS_OK);
    return s->Level(device->Played(), device->rate());
}
