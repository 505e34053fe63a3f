// Small text helpers shared by the program and the library. No windows.h, so
// portable code and its native tests can use them too.
#pragma once

// A copy made with malloc, to be released with free; null for a null text or
// when memory ran out.
char* DuplicateString(const char* text);

// The text itself, or "" for null: for calls that must not be handed null.
inline const char* TextOrEmpty(const char* text) { return text ? text : ""; }
