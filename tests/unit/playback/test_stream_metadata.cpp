// The station, bit-rate and title texts from tag data, and how a station's
// bytes are decoded and cut.
#include "playback/stream_metadata.h"

#include <gtest/gtest.h>

#include <string>

#include "playback/engine_errors.h"
#include "playback/stream_text.h"
#include "settings/string_ids.h"

namespace {

using playback::HeaderTexts;
using playback::ParseHeaderTags;
using playback::ParseTitle;
using playback::TitleUpdate;
using Action = TitleUpdate::Action;

// A tag list as the engine hands it over: NUL-separated, ended by an empty string.
std::string List(std::initializer_list<const char*> items) {
    std::string list;
    for (const char* item : items) list.append(item).push_back('\0');
    list.push_back('\0');
    return list;
}

TEST(HeaderTags, NameAndBitRateFromTheIcyListElseTheHttpOne) {
    const std::string icy = List({"ICY 200 OK", "icy-name:First", "icy-br:96", "icy-name:Later",
                                  "ICY-BR:320", "icy-br: 128"});
    const std::string http = List({"HTTP/1.0 200 OK", "icy-name:From HTTP"});
    HeaderTexts got = ParseHeaderTags(icy.c_str(), http.c_str());
    EXPECT_TRUE(got.anyList);
    EXPECT_EQ(got.name, "Later");  // the last match wins
    EXPECT_EQ(got.bitrate, " 128 KBit/s");  // the blank stays; upper case is not the key

    got = ParseHeaderTags(nullptr, http.c_str());
    EXPECT_EQ(got.name, "From HTTP");
    EXPECT_FALSE(got.hasBitrate);

    got = ParseHeaderTags(nullptr, nullptr);
    EXPECT_FALSE(got.anyList);
    EXPECT_FALSE(got.hasName);

    // An empty value is a value; no trimming.
    got = ParseHeaderTags(List({"icy-name:", "icy-br:64"}).c_str(), nullptr);
    EXPECT_TRUE(got.hasName);
    EXPECT_EQ(got.name, "");
    EXPECT_EQ(got.bitrate, "64 KBit/s");
}

TEST(HeaderTags, BitRateTextIsCutToItsBufferOnACharacterBoundary) {
    // 54 ASCII bytes, then "ä" (2 bytes) at 54..55: "...ä KBit/s" is 63 bytes, fits.
    const std::string fits = std::string(54, 'x') + "\xC3\xA4";
    EXPECT_EQ(ParseHeaderTags(List({("icy-br:" + fits).c_str()}).c_str(), nullptr).bitrate,
              fits + " KBit/s");
    // 62 ASCII bytes and "ä": the 63-byte limit would split the "ä", which is dropped.
    const std::string splits = std::string(62, 'x') + "\xC3\xA4";
    EXPECT_EQ(ParseHeaderTags(List({("icy-br:" + splits).c_str()}).c_str(), nullptr).bitrate,
              std::string(62, 'x'));
}

TEST(TitleUpdate, StreamTitleFromIcyMetadata) {
    struct Case {
        const char* meta;
        Action action;
        const char* text;
    };
    const Case cases[] = {
        {"StreamTitle='Artist - Song';StreamUrl='';", Action::Show, "Artist - Song"},
        {"StreamTitle='';", Action::Show, ""},
        {"StreamTitle='Rock 'n' Roll';", Action::Show, "Rock 'n' Roll"},
        {"StreamTitle=';x';y';", Action::Show, ";x"},
        {"StreamUrl='http://example.org/';", Action::NoTitle, ""},
        {"streamtitle='lower';", Action::NoTitle, ""},
        {"StreamTitle='never closed", Action::Keep, ""},
        {"", Action::NoTitle, ""},
    };
    for (const Case& c : cases) {
        const TitleUpdate got = ParseTitle(c.meta, "ignored\0\0");
        EXPECT_EQ(got.action, c.action) << c.meta;
        if (c.action == Action::Show) {
            EXPECT_EQ(got.text, c.text) << c.meta;
        }
    }
}

TEST(TitleUpdate, ArtistAndTitleFromOggComments) {
    EXPECT_EQ(ParseTitle(nullptr, List({"ARTIST=Someone", "Title=Song", "encoder=x"}).c_str()).text,
              "Someone - Song");
    // The last occurrence wins; a title alone stands alone.
    TitleUpdate got = ParseTitle(nullptr, List({"title=One", "TITLE=Two"}).c_str());
    EXPECT_EQ(got.action, Action::Show);
    EXPECT_EQ(got.text, "Two");
    EXPECT_EQ(ParseTitle(nullptr, List({"artist=Only the artist"}).c_str()).action, Action::NoTitle);
    EXPECT_EQ(ParseTitle(nullptr, List({}).c_str()).action, Action::NoTitle);
    EXPECT_EQ(ParseTitle(nullptr, nullptr).action, Action::Keep);
    // "artist - title" is cut to 511 bytes, never inside a character.
    const std::string artist(300, 'a');
    const std::string title = std::string(207, 't') + "\xE2\x82\xAC";  // ends with the euro sign
    got = ParseTitle(nullptr, List({("artist=" + artist).c_str(), ("title=" + title).c_str()}).c_str());
    EXPECT_EQ(got.text, artist + " - " + std::string(207, 't'));  // 510 bytes, the sign dropped
}

TEST(StationText, ValidUtf8IsUtf8AndAnythingElseWindows1252) {
    // "Motörhead – Ace" in UTF-8, with an en dash.
    EXPECT_EQ(playback::DecodeStationText("Mot\xC3\xB6rhead \xE2\x80\x93 Ace"),
              u"Mot\u00F6rhead \u2013 Ace");
    // The same in Windows-1252: ö is 0xF6, the dash 0x96, the euro 0x80.
    EXPECT_EQ(playback::DecodeStationText("Mot\xF6rhead \x96 Ace \x80"),
              u"Mot\u00F6rhead \u2013 Ace \u20AC");
    // Beyond the basic plane: a surrogate pair.
    EXPECT_EQ(playback::DecodeStationText("\xF0\x9F\x8E\xB5"), u"\U0001F3B5");
    // Overlong forms, surrogates, stray and truncated sequences are not UTF-8.
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\x80", "\xC3", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(playback::IsValidUtf8(bad, std::char_traits<char>::length(bad))) << bad;
    EXPECT_EQ(playback::DecodeStationText("\xC3"), u"\u00C3");
}

TEST(PlayerTexts, ProgressStatusAndErrorLines) {
    EXPECT_EQ(playback::FormatProgress("Buffering", 42), "Buffering: 42%");
    EXPECT_EQ(playback::FormatProgress(std::string(40, 'b').c_str(), 7).size(), 31u);
    EXPECT_EQ(playback::FormatStatus(u"Status", "HTTP/1.0 200 OK"), u"Status: HTTP/1.0 200 OK");
    EXPECT_EQ(playback::FormatStatus(u"S", std::string(2000, 'x')).size(), 1023u);
    EXPECT_EQ(playback::FormatStreamError("Failed (code ", 41, "Bad format."),
              "Failed (code 41)\n\n\"Bad format.\"");
    const std::string long_detail(400, 'd');
    const std::string message = playback::FormatStreamError("H ", 2, long_detail.c_str());
    EXPECT_EQ(message, "H 2)\n\n\"" + std::string(255, 'd') + "\"");
    EXPECT_EQ(playback::FormatStreamError(std::string(600, 'h').c_str(), 2, "d").size(), 511u);
}

TEST(PlayerTexts, EngineErrorsHaveTheirTextsAndEverythingElseTheUnknownOne) {
    EXPECT_EQ(playback::EngineErrorTextId(0), IDS_ENGINE_ERROR_OK);
    EXPECT_EQ(playback::EngineErrorTextId(2), IDS_ENGINE_ERROR_FILEOPEN);
    EXPECT_EQ(playback::EngineErrorTextId(14), IDS_ENGINE_ERROR_ALREADY);
    EXPECT_EQ(playback::EngineErrorTextId(41), IDS_ENGINE_ERROR_FILEFORM);
    EXPECT_EQ(playback::EngineErrorTextId(46), IDS_ENGINE_ERROR_BUSY);
    for (int unnamed : {-1, 10, 11, 17, 26, 47, 1000})
        EXPECT_EQ(playback::EngineErrorTextId(unnamed), IDS_ENGINE_ERROR_UNKNOWN) << unnamed;
}

TEST(PlayerTexts, BufferPercentNeverDividesByZero) {
    EXPECT_EQ(playback::BufferPercent(1000, 500, 0), 50u);
    EXPECT_EQ(playback::BufferPercent(1000, 1500, 500), 100u);
    EXPECT_EQ(playback::BufferPercent(3, 2, 0), 66u);  // truncated
    EXPECT_EQ(playback::BufferPercent(0, 0, 0), 100u);
}

}  // namespace
