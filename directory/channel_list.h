// The station directory object of the program: fetched, read and kept for
// the life of the main window.
#pragma once

#include <windows.h>

#include "directory/channel_list_model.h"
#include "settings/ref_count.h"
#include "directory/text_source.h"

class CChannelList : public IRefCount, public ChannelListModel {
public:
    // Downloads url into localPath behind the progress window and reads it.
    // The outcome shows only in channelCount (0: no usable list).
    CChannelList(const char* url, const char* localPath, const DirectoryHost& host);

    bool Load();
    bool Download();
    bool Parse();

    char* url = nullptr;
    char* localPath = nullptr;
    HWND progressWindow = nullptr;  // only while the constructor runs

protected:
    ~CChannelList() override;

private:
    void ShowError(const char* text) const;

    DirectoryHost host_;
};

// Creates the list (which downloads and parses at once); null when memory ran out.
CChannelList* CreateChannelList(const char* url, const char* localPath, const DirectoryHost& host);
