#include "directory/channel_list_model.h"

#include <pugixml.hpp>

#include "common/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Every value sits in the first attribute of its element, whatever it is called.
char* CopyFirstAttribute(const pugi::xml_node& node) {
    return DuplicateString(node.first_attribute().value());  // "" when there is none
}

int32_t FirstAttributeAsInt(const pugi::xml_node& node) {
    return node.first_attribute().as_int(0);
}

// Replaces an owned string; the last occurrence of a name wins.
bool Store(char*& field, const pugi::xml_node& node) {
    char* value = CopyFirstAttribute(node);
    if (!value) return false;
    std::free(field);
    field = value;
    return true;
}

bool Named(const pugi::xml_node& node, const char* name) {
    return std::strcmp(node.name(), name) == 0;
}

void FreeEntry(ChannelEntry* entry) {
    std::free(entry->name);
    for (int i = 0; i < entry->serverCount; ++i) std::free(entry->servers[i]);
    delete entry;
}

// Fills one record from a station node; false only when memory ran out.
bool ReadStation(const pugi::xml_node& station, ChannelEntry* entry) {
    for (pugi::xml_node child = station.first_child(); child; child = child.next_sibling()) {
        if (Named(child, "id")) {
            entry->id = FirstAttributeAsInt(child);
        } else if (Named(child, "name")) {
            if (!Store(entry->name, child)) return false;
        } else if (Named(child, "serverlist")) {
            // Repeated serverlists add to the same array, up to its size.
            for (pugi::xml_node server = child.first_child();
                 server && entry->serverCount < kMaxServers; server = server.next_sibling()) {
                char* address = CopyFirstAttribute(server);
                if (!address) return false;
                entry->servers[entry->serverCount++] = address;
            }
        }
    }
    return true;
}

ParseOutcome ReadDocument(const pugi::xml_document& document, ChannelListModel& list) {
    pugi::xml_node root = document.child("orvantisclient");
    pugi::xml_attribute versionAttribute = root.first_attribute();
    // A version that is not the first attribute does not count.
    if (std::strcmp(versionAttribute.name(), "version") != 0) return ParseOutcome::NoVersion;
    list.version = versionAttribute.as_int(0);
    if (list.version < kLowestListVersion) return ParseOutcome::OldVersion;

    for (pugi::xml_node item = root.child("description").first_child(); item;
         item = item.next_sibling()) {
        bool stored = true;
        if (Named(item, "url")) {
            stored = Store(list.descriptionUrl, item);
        } else if (Named(item, "provider")) {
            stored = Store(list.provider, item);
        } else if (Named(item, "copyright")) {
            stored = Store(list.copyright, item);
        } else if (Named(item, "build")) {
            list.build = FirstAttributeAsInt(item);
        }
        if (!stored) return ParseOutcome::Unreadable;
    }

    // Every child node of stationlist is a station, text nodes included.
    int32_t count = 0;
    for (pugi::xml_node station = root.child("stationlist").first_child(); station;
         station = station.next_sibling()) {
        auto* entry = new (std::nothrow) ChannelEntry;
        if (!entry) return ParseOutcome::Unreadable;
        entry->prev = list.last;
        if (list.last) list.last->next = entry; else list.first = entry;
        list.last = entry;
        ++count;
        if (!ReadStation(station, entry)) return ParseOutcome::Unreadable;
    }
    list.channelCount = count;
    return ParseOutcome::Ok;
}

}  // namespace

ChannelListModel::~ChannelListModel() { FreeAll(); }

void ChannelListModel::FreeStations() {
    ChannelEntry* entry = first;
    while (entry) {
        ChannelEntry* next = entry->next;
        FreeEntry(entry);
        entry = next;
    }
    first = last = nullptr;
    channelCount = 0;
}

void ChannelListModel::FreeAll() {
    FreeStations();
    std::free(descriptionUrl);
    std::free(provider);
    std::free(copyright);
    descriptionUrl = provider = copyright = nullptr;
    version = 0;
    build = 0;
}

ParseOutcome ChannelListModel::ParseFile(const char* path) {
    FreeStations();
    pugi::xml_document document;
    if (!document.load_file(path, pugi::parse_default, pugi::encoding_auto))
        return ParseOutcome::Unreadable;
    ParseOutcome outcome = ReadDocument(document, *this);
    // A failed parse leaves no records behind, half-read ones included.
    if (outcome != ParseOutcome::Ok) FreeStations();
    return outcome;
}

ParseOutcome ChannelListModel::ParseBuffer(const void* data, size_t size) {
    FreeStations();
    pugi::xml_document document;
    if (!document.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto))
        return ParseOutcome::Unreadable;
    ParseOutcome outcome = ReadDocument(document, *this);
    if (outcome != ParseOutcome::Ok) FreeStations();
    return outcome;
}

ChannelEntry* ChannelListModel::GetChannel(int32_t position) const {
    if (position < 0 || position >= channelCount) return nullptr;
    ChannelEntry* entry = first;
    for (int32_t i = 0; i < position && entry; ++i) entry = entry->next;
    return entry;
}

void ChannelListModel::ClearPlaying() {
    for (ChannelEntry* entry = first; entry; entry = entry->next) entry->playing = false;
}

void FormatVersionError(char* out, size_t size, const char* format, int lowest, int found) {
    if (!out || size == 0) return;
    out[0] = '\0';
    if (!format) return;
    const int values[2] = {lowest, found};
    int next = 0;
    size_t used = 0;
    auto append = [&](const char* text, size_t length) {
        size_t room = size - 1 - used;
        if (length > room) length = room;
        std::memcpy(out + used, text, length);
        used += length;
        out[used] = '\0';
    };
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            append("%", 1);
            ++p;
        } else if (p[0] == '%' && (p[1] == 'd' || p[1] == 'i') && next < 2) {
            char number[16];
            int length = std::snprintf(number, sizeof number, "%d", values[next++]);
            append(number, static_cast<size_t>(length));
            ++p;
        } else {
            append(p, 1);
        }
    }
}
