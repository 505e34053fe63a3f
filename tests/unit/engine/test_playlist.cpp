#include <gtest/gtest.h>

#include <string>

#include "engine/net/playlist.h"

using namespace engine;

namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The first stream of `text` as a string, "" if none.
std::string first(PlaylistKind kind, const std::string& text,
                  const char* self = "http://dir.example/list") {
    Url base, out;
    EXPECT_EQ(parse_url(self, &base), UrlStatus::Ok);
    if (!playlist_first_stream(kind, bytes(text), text.size(), base, &out)) return "";
    return url_to_string(out);
}

}  // namespace

TEST(Playlist, DetectsByContentTypeOrContent) {
    const std::string pls = "\xEF\xBB\xBF\r\n[Playlist]\nFile1=http://a/\n";
    const std::string m3u = "#EXTM3U\n#EXTINF:-1,x\nhttp://a/\n";
    const std::string bare = "http://a:8000/stream\r\n";
    const std::string mp3 = "\xFF\xFB\x90\x64http://not-a-list";
    EXPECT_EQ(detect_playlist(nullptr, bytes(pls), pls.size()), PlaylistKind::Pls);
    EXPECT_EQ(detect_playlist("", bytes(m3u), m3u.size()), PlaylistKind::M3u);
    EXPECT_EQ(detect_playlist("text/plain", bytes(bare), bare.size()), PlaylistKind::M3u);
    EXPECT_EQ(detect_playlist("audio/mpeg", bytes(mp3), mp3.size()), PlaylistKind::None);
    EXPECT_EQ(detect_playlist("audio/x-scpls", bytes(mp3), 0), PlaylistKind::Pls);
    EXPECT_EQ(detect_playlist("audio/x-mpegurl", bytes(mp3), 0), PlaylistKind::M3u);
    EXPECT_EQ(detect_playlist("application/vnd.apple.mpegurl", nullptr, 0), PlaylistKind::M3u);
    const std::string binary_line = std::string("http://a/\x01\x02", 11);
    EXPECT_EQ(detect_playlist(nullptr, bytes(binary_line), binary_line.size()), PlaylistKind::None);
}

TEST(Playlist, PlsTakesTheLowestNumberedUsableEntry) {
    // No NumberOfEntries, File0, blank lines, entries out of order, CRLF.
    EXPECT_EQ(first(PlaylistKind::Pls,
                    "[playlist]\r\n\r\nFile2=http://two/\r\nTitle2=x\r\n\r\nfile0 = bad\r\n"
                    "File0=http://zero:8000/s\r\nFile1=http://one/\r\n"),
              "http://zero:8000/s");
    // Self-reference and unusable entries are skipped.
    EXPECT_EQ(first(PlaylistKind::Pls,
                    "[playlist]\nNumberOfEntries=3\nFile1=http://dir.example/list\n"
                    "File2=ftp://x/\nFile3=http://good/\nVersion=2\n"),
              "http://good/");
    EXPECT_EQ(first(PlaylistKind::Pls, "[playlist]\nFile1=\nFileX=http://a/\n"), "");
    EXPECT_EQ(first(PlaylistKind::Pls, "[playlist]\nNumberOfEntries=0\n"), "");
}

TEST(Playlist, M3uTakesTheFirstUsableLine) {
    EXPECT_EQ(first(PlaylistKind::M3u,
                    "#EXTM3U\n\n#EXTINF:-1,Radio\n  http://dir.example/list  \n"
                    "relative/s.mp3\nhttp://later/\n"),
              "http://dir.example/relative/s.mp3");
    EXPECT_EQ(first(PlaylistKind::M3u, "#EXTM3U\n# only comments\n\n"), "");
    // https entries count like http ones, in their order.
    EXPECT_EQ(first(PlaylistKind::M3u, "https://tls/\nhttp://plain/\n"), "https://tls/");
    EXPECT_EQ(first(PlaylistKind::M3u, "https://tls/\n"), "https://tls/");
    EXPECT_EQ(first(PlaylistKind::None, "http://a/\n"), "");
}
