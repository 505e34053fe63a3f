// What the station directory needs from the program around it: its texts by
// ID (the language manager), its resources and its captions.
#pragma once

#include <windows.h>

#include "common/text.h"

class TextSource {
public:
    virtual ~TextSource() = default;
    // The text of a string ID; null or "" when the language has none.
    virtual const char* GetString(int id) const = 0;
};

struct DirectoryHost {
    HINSTANCE instance = nullptr;        // holds dialog 3100 and icons 101, 106
    const TextSource* texts = nullptr;
    const char* versionedCaption = "";   // caption of the list's error boxes
    const char* plainCaption = "";       // caption of the retry question
};

// A text that is never null.
inline const char* HostText(const DirectoryHost& host, int id) {
    return TextOrEmpty(host.texts ? host.texts->GetString(id) : nullptr);
}
