// The station list as read from channels.xml: header values and the chain of
// station records in file order. Free of Win32 so the parse is unit-tested and
// fuzzed natively; CChannelList adds the download, the windows and the boxes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMaxServers = 32;
// Lists older than this lack fields the program relies on.
constexpr int32_t kLowestListVersion = 3;

struct ChannelEntry {
    int32_t id = 0;
    char* name = nullptr;  // UTF-8 bytes as found in the file; null when absent
    int32_t serverCount = 0;
    char* servers[kMaxServers] = {};
    bool playing = false;
    ChannelEntry* next = nullptr;
    ChannelEntry* prev = nullptr;
};

// What a parse came to; the Win32 side turns each failure into its box.
enum class ParseOutcome {
    Ok,
    Unreadable,   // missing file, malformed XML (or out of memory)
    NoVersion,    // no root element, or its first attribute is not "version"
    OldVersion,   // version below kLowestListVersion
};

class ChannelListModel {
public:
    ChannelListModel() = default;
    ~ChannelListModel();
    ChannelListModel(const ChannelListModel&) = delete;
    ChannelListModel& operator=(const ChannelListModel&) = delete;

    // Reads the file at path (encoding detected from its start) into the
    // chain, replacing what an earlier parse left.
    ParseOutcome ParseFile(const char* path);
    // The same over bytes in memory (tests, the fuzzer, the benchmark).
    ParseOutcome ParseBuffer(const void* data, size_t size);

    // Station at a row position, null when out of range.
    ChannelEntry* GetChannel(int32_t position) const;
    void ClearPlaying();

    int32_t version = 0;
    char* descriptionUrl = nullptr;
    char* provider = nullptr;
    char* copyright = nullptr;
    int32_t build = 0;
    int32_t channelCount = 0;
    ChannelEntry* first = nullptr;
    ChannelEntry* last = nullptr;

protected:
    void FreeStations();
    void FreeAll();
};

// Builds the "list too old" text from the translated format, which carries
// two integer conversions (lowest accepted version, version found). The format
// comes from a resource file, so only %d/%i and %% are honoured; any other
// conversion is copied as plain text rather than trusted to printf.
void FormatVersionError(char* out, size_t size, const char* format, int lowest, int found);
