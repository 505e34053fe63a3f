// The channels.xml parse: header checks, the station schema and its rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory/channel_list_model.h"

namespace {

ParseOutcome ParseText(ChannelListModel& list, const std::string& xml) {
    return list.ParseBuffer(xml.data(), xml.size());
}

std::string WithStations(const std::string& stations) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orvantisclient version=\"3\">"
           "<stationlist>" + stations + "</stationlist></orvantisclient>";
}

std::vector<std::string> Names(const ChannelListModel& list) {
    std::vector<std::string> names;
    for (ChannelEntry* e = list.first; e; e = e->next) names.push_back(e->name ? e->name : "<null>");
    return names;
}

TEST(ChannelParse, VersionMustBeTheFirstAttributeAndAtLeastThree) {
    struct Case {
        const char* root;
        ParseOutcome outcome;
        int32_t version;
    };
    const Case cases[] = {
        {"<orvantisclient version=\"3\"/>", ParseOutcome::Ok, 3},
        {"<orvantisclient version=\"17\"/>", ParseOutcome::Ok, 17},
        {"<orvantisclient version=\"2\"/>", ParseOutcome::OldVersion, 2},
        {"<orvantisclient version=\"abc\"/>", ParseOutcome::OldVersion, 0},
        {"<orvantisclient build=\"9\" version=\"5\"/>", ParseOutcome::NoVersion, 0},
        {"<orvantisclient/>", ParseOutcome::NoVersion, 0},
        {"<orvantisclient Version=\"3\"/>", ParseOutcome::NoVersion, 0},
        {"<radioclient version=\"3\"/>", ParseOutcome::NoVersion, 0},
    };
    for (const Case& c : cases) {
        ChannelListModel list;
        EXPECT_EQ(ParseText(list, c.root), c.outcome) << c.root;
        EXPECT_EQ(list.version, c.version) << c.root;
        EXPECT_EQ(list.channelCount, 0) << c.root;
    }
}

TEST(ChannelParse, MalformedOrEmptyInputIsUnreadable) {
    for (const char* text : {"", "<orvantisclient version=\"3\">", "<html><body>404</body>",
                             "not xml at all", "<a></b>"}) {
        ChannelListModel list;
        EXPECT_EQ(ParseText(list, text), ParseOutcome::Unreadable) << text;
    }
    ChannelListModel list;
    EXPECT_EQ(list.ParseFile("no-such-dir/channels.xml"), ParseOutcome::Unreadable);
}

TEST(ChannelParse, DescriptionTakesFirstAttributesAndLastOccurrence) {
    ChannelListModel list;
    ASSERT_EQ(ParseText(list,
                        "<orvantisclient version=\"4\"><description>"
                        "<build value=\"12\"/><provider p=\"First\"/><url href=\"http://a/\"/>"
                        "<copyright c=\"(c) Us\" x=\"ignored\"/><provider p=\"Second\"/>"
                        "<unknown v=\"1\"/></description></orvantisclient>"),
              ParseOutcome::Ok);
    EXPECT_STREQ(list.descriptionUrl, "http://a/");
    EXPECT_STREQ(list.provider, "Second");
    EXPECT_STREQ(list.copyright, "(c) Us");
    EXPECT_EQ(list.build, 12);
    EXPECT_EQ(list.channelCount, 0);
}

TEST(ChannelParse, StationFieldsAndServerLimit) {
    std::string servers;
    for (int i = 0; i < 40; ++i) servers += "<s u=\"http://host/" + std::to_string(i) + "\"/>";
    ChannelListModel list;
    ASSERT_EQ(ParseText(list, WithStations(
                                  "<station><name n=\"Many\"/><id v=\"7\"/><serverlist>" +
                                  servers + "</serverlist></station>"
                                  "<station><name value=\"None\"/></station>"
                                  "<x><id v=\"1\"/><name v=\"Repeated\"/><name v=\"Last\"/>"
                                  "<serverlist><a u=\"one\"/></serverlist>"
                                  "<serverlist><b u=\"two\"/><c/></serverlist></x>")),
              ParseOutcome::Ok);
    ASSERT_EQ(list.channelCount, 3);
    ChannelEntry* many = list.GetChannel(0);
    EXPECT_EQ(many->id, 7);
    EXPECT_EQ(many->serverCount, kMaxServers);
    EXPECT_STREQ(many->servers[0], "http://host/0");
    EXPECT_STREQ(many->servers[31], "http://host/31");

    ChannelEntry* none = list.GetChannel(1);
    EXPECT_EQ(none->serverCount, 0);
    EXPECT_EQ(none->id, 0);

    ChannelEntry* repeated = list.GetChannel(2);
    EXPECT_STREQ(repeated->name, "Last");
    ASSERT_EQ(repeated->serverCount, 3);
    EXPECT_STREQ(repeated->servers[0], "one");
    EXPECT_STREQ(repeated->servers[1], "two");
    EXPECT_STREQ(repeated->servers[2], "") << "a server without attributes is an empty address";
}

TEST(ChannelParse, ServerLimitHoldsAcrossRepeatedServerLists) {
    std::string first, second;
    for (int i = 0; i < 30; ++i) first += "<s u=\"a" + std::to_string(i) + "\"/>";
    for (int i = 0; i < 5; ++i) second += "<s u=\"b" + std::to_string(i) + "\"/>";
    ChannelListModel list;
    ASSERT_EQ(ParseText(list, WithStations("<st><serverlist>" + first + "</serverlist><serverlist>" +
                                           second + "</serverlist></st>")),
              ParseOutcome::Ok);
    ChannelEntry* st = list.GetChannel(0);
    ASSERT_EQ(st->serverCount, kMaxServers);
    EXPECT_STREQ(st->servers[29], "a29");
    EXPECT_STREQ(st->servers[30], "b0");
    EXPECT_STREQ(st->servers[31], "b1");
}

TEST(ChannelParse, TextAndElementTextDoNotCarryValues) {
    ChannelListModel list;
    ASSERT_EQ(ParseText(list, WithStations("<st><name>Text Only</name><id>5</id>"
                                           "<serverlist><s>http://x/</s></serverlist></st>"
                                           "  stray text  "
                                           "<st><name v=\"After\"/></st>")),
              ParseOutcome::Ok);
    ASSERT_EQ(list.channelCount, 3);
    ChannelEntry* textOnly = list.GetChannel(0);
    EXPECT_STREQ(textOnly->name, "") << "element text is never read";
    EXPECT_EQ(textOnly->id, 0);
    ASSERT_EQ(textOnly->serverCount, 1);
    EXPECT_STREQ(textOnly->servers[0], "");
    // The stray text is a station of its own, with nothing in it.
    ChannelEntry* stray = list.GetChannel(1);
    EXPECT_EQ(stray->name, nullptr);
    EXPECT_EQ(stray->serverCount, 0);
    EXPECT_EQ(stray->id, 0);
    EXPECT_STREQ(list.GetChannel(2)->name, "After");
}

TEST(ChannelParse, FileOrderDuplicatesAndChain) {
    ChannelListModel list;
    ASSERT_EQ(ParseText(list, WithStations("<s><id v=\"1\"/><name v=\"B\"/></s>"
                                           "<s><id v=\"1\"/><name v=\"A\"/></s>"
                                           "<!-- a comment --><?pi x?>"
                                           "<s><id v=\"-4\"/><name v=\"C\"/></s>")),
              ParseOutcome::Ok);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"B", "A", "C"}));
    EXPECT_EQ(list.GetChannel(0)->id, 1);
    EXPECT_EQ(list.GetChannel(1)->id, 1);
    EXPECT_EQ(list.GetChannel(2)->id, -4);
    EXPECT_EQ(list.GetChannel(3), nullptr);
    EXPECT_EQ(list.GetChannel(-1), nullptr);
    // The chain runs both ways and ends at last.
    EXPECT_EQ(list.first->prev, nullptr);
    EXPECT_EQ(list.last, list.GetChannel(2));
    EXPECT_EQ(list.last->next, nullptr);
    EXPECT_EQ(list.last->prev->prev, list.first);

    list.GetChannel(1)->playing = true;
    list.ClearPlaying();
    for (ChannelEntry* e = list.first; e; e = e->next) EXPECT_FALSE(e->playing);
}

TEST(ChannelParse, MissingStationListAndReparse) {
    ChannelListModel list;
    ASSERT_EQ(ParseText(list, WithStations("<s/><s/>")), ParseOutcome::Ok);
    EXPECT_EQ(list.channelCount, 2);
    // A later parse replaces the stations instead of adding to them.
    ASSERT_EQ(ParseText(list, "<orvantisclient version=\"3\"><other/></orvantisclient>"),
              ParseOutcome::Ok);
    EXPECT_EQ(list.channelCount, 0);
    EXPECT_EQ(list.first, nullptr);
    EXPECT_EQ(list.last, nullptr);
    // A failed one leaves no stations either.
    ASSERT_EQ(ParseText(list, WithStations("<s/>")), ParseOutcome::Ok);
    EXPECT_EQ(ParseText(list, "<orvantisclient version=\"1\"><stationlist><s/></stationlist>"
                              "</orvantisclient>"),
              ParseOutcome::OldVersion);
    EXPECT_EQ(list.channelCount, 0);
    EXPECT_EQ(list.version, 1);
}

TEST(ChannelParse, EncodingsAndEntities) {
    // UTF-8 with a byte order mark, entities and line ends inside a value.
    ChannelListModel utf8;
    ASSERT_EQ(ParseText(utf8, "\xEF\xBB\xBF" + WithStations(
                                  "<s><name v=\"\xC3\x96" "3 &amp; Radio &#x17B;ak\tx\ny\"/></s>")),
              ParseOutcome::Ok);
    ASSERT_EQ(utf8.channelCount, 1);
    EXPECT_STREQ(utf8.first->name, "\xC3\x96" "3 & Radio \xC5\xBB" "ak x y");

    // The same list stored as UTF-16 LE with a byte order mark comes out as UTF-8.
    std::string narrow = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><orvantisclient version=\"3\">"
                         "<stationlist><s><name v=\"R\xC3\xA1" "dio\"/></s></stationlist>"
                         "</orvantisclient>";
    std::string utf16 = "\xFF\xFE";
    for (size_t i = 0; i < narrow.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(narrow[i]);
        if (c == 0xC3) {  // the one two-byte sequence above: U+00E1
            utf16 += '\xE1';
            utf16 += '\0';
            ++i;
            continue;
        }
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    ChannelListModel wide;
    ASSERT_EQ(wide.ParseBuffer(utf16.data(), utf16.size()), ParseOutcome::Ok);
    ASSERT_EQ(wide.channelCount, 1);
    EXPECT_STREQ(wide.first->name, "R\xC3\xA1" "dio");
}

TEST(VersionErrorText, FillsTwoNumbersAndNothingElse) {
    char out[64];
    FormatVersionError(out, sizeof out, "List version %d needed, found %d (100%%).", 3, 2);
    EXPECT_STREQ(out, "List version 3 needed, found 2 (100%).");
    // Conversions a translation must not carry are shown, not interpreted.
    FormatVersionError(out, sizeof out, "%s %n %d %d %d", 3, 1);
    EXPECT_STREQ(out, "%s %n 3 1 %d");
    FormatVersionError(out, 8, "version %d", 3, 1);
    EXPECT_STREQ(out, "version");
    FormatVersionError(out, sizeof out, nullptr, 3, 1);
    EXPECT_STREQ(out, "");
}

}  // namespace
