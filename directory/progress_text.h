// Numbers and texts of the download progress window, kept apart from the
// window so they are tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kProgressRangeMax = 100;

// Expected total from a Content-Length value: the decimal number at its start.
// 0 stands for "unknown" (no digits, zero, or too large to count in an int).
int32_t ParseContentLength(const char* text);

// Bar position for the bytes received so far, single precision and truncated
// as the bar has always shown it; above 100 when the server under-declared.
int32_t ProgressPosition(int64_t received, int32_t total);

// "%s (%d/%d)": shown once the local file is open, nothing received yet.
void FormatStartCount(char* out, size_t size, const char* base, int32_t total);
// "%s [%d / %d Bytes]": shown after every block.
void FormatByteCount(char* out, size_t size, const char* base, int64_t received, int32_t total);
