// Our published station directory parses and every station can be played.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "directory/channel_list_model.h"

namespace {

// True when text is well-formed UTF-8 (no overlongs, no surrogates).
bool IsUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        int extra;
        unsigned min;
        unsigned code;
        if (*p < 0x80) { ++p; continue; }
        if ((*p & 0xE0) == 0xC0) { extra = 1; min = 0x80; code = *p & 0x1F; }
        else if ((*p & 0xF0) == 0xE0) { extra = 2; min = 0x800; code = *p & 0x0F; }
        else if ((*p & 0xF8) == 0xF0) { extra = 3; min = 0x10000; code = *p & 0x07; }
        else return false;
        ++p;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
            code = (code << 6) | (*p & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    }
    return true;
}

TEST(StationFile, OurDirectoryIsCompleteAndPlayable) {
    ChannelListModel list;
    ASSERT_EQ(list.ParseFile(ORVANTIS_STATION_FILE), ParseOutcome::Ok);
    EXPECT_GE(list.version, 3);
    EXPECT_GE(list.channelCount, 40);
    ASSERT_NE(list.provider, nullptr);
    ASSERT_NE(list.descriptionUrl, nullptr);
    ASSERT_NE(list.copyright, nullptr);
    EXPECT_STRNE(list.provider, "");
    EXPECT_STRNE(list.descriptionUrl, "");
    EXPECT_GT(list.build, 0);

    std::set<int32_t> ids;
    std::set<std::string> names;
    int nonAscii = 0;
    for (ChannelEntry* e = list.first; e; e = e->next) {
        ASSERT_NE(e->name, nullptr) << "station " << e->id;
        EXPECT_STRNE(e->name, "") << "station " << e->id;
        EXPECT_TRUE(IsUtf8(e->name)) << e->name;
        EXPECT_GE(e->serverCount, 1) << e->name;
        for (int i = 0; i < e->serverCount; ++i)
            EXPECT_EQ(std::string(e->servers[i]).rfind("http://", 0), 0u) << e->name;
        EXPECT_TRUE(ids.insert(e->id).second) << "duplicate id " << e->id;
        EXPECT_TRUE(names.insert(e->name).second) << "duplicate name " << e->name;
        for (const char* c = e->name; *c; ++c)
            if (static_cast<unsigned char>(*c) >= 0x80) { ++nonAscii; break; }
    }
    EXPECT_GE(nonAscii, 1) << "the list should show that names are UTF-8";
}

}  // namespace
