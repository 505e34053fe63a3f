// Texts the player shows: what a station sent, made readable, and the
// player's own formatted lines. No windows.h, so they are tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace playback {

// Byte sizes of the formatted texts, terminating zero included.
constexpr size_t kProgressTextSize = 32;
constexpr size_t kStatusTextSize = 1024;
constexpr size_t kErrorDetailSize = 256;
constexpr size_t kErrorMessageSize = 512;

// True when size bytes at text are well-formed UTF-8: no stray continuation
// bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* text, size_t size);

// A station's bytes (station name, bit rate, title, status) as UTF-16 for the
// wide-text controls. Most stations send UTF-8; older ones send Latin-1 or
// Windows-1252, so anything that is not valid UTF-8 is read as Windows-1252.
std::u16string DecodeStationText(const std::string& bytes);

// cut is whole, or the start of it cut to a byte limit. When whole is UTF-8,
// a character cut in two at the end of cut is dropped, so the rest still
// reads as UTF-8 rather than falling back to Windows-1252.
std::string CutToCharacters(const char* cut, const char* whole);

// "label: 42%" (bounded to kProgressTextSize).
std::string FormatProgress(const char* label, int percent);
// "label: status" for the station field, the label a text of ours and the
// status the bytes a server sent (decoded as DecodeStationText does); at most
// kStatusTextSize - 1 characters.
std::u16string FormatStatus(const std::u16string& label, const std::string& status);
// The stream error box: head, code, ")\n\n", the detail in double quotes; the
// detail is cut to kErrorDetailSize - 1 bytes, the whole to kErrorMessageSize - 1.
std::string FormatStreamError(const char* head, int code, const char* detail);

// How full the engine's network buffer is, in percent of the end position:
// (download - current) * 100 / end in unsigned 64-bit arithmetic. An end of 0
// means there is no buffer to wait for: 100.
uint64_t BufferPercent(uint64_t end, uint64_t download, uint64_t current);

}  // namespace playback
