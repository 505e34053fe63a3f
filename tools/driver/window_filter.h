// Which top-level windows a driver command is about. No windows.h: the
// matching rules are plain text comparisons.
#pragma once

#include <string>

namespace driver {

struct WindowFilter {
    std::string process;  // substring of the image path, any case; empty = any
    std::string cls;      // exact class name; empty = any
    std::string caption;  // exact title; empty = any
    bool hasCaption = false;
};

bool Matches(const WindowFilter& filter, const std::string& imagePath, const std::string& cls,
             const std::string& caption);

// One line, C-style escapes for control bytes and backslashes.
std::string Escape(const std::string& text);

// "0x1f" or "1f" (hexadecimal) to a number; false when it is not one.
bool ParseHandle(const std::string& text, unsigned long long& value);

}  // namespace driver
