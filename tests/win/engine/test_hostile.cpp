// Servers that misbehave on purpose, and callers that free at awkward
// moments: no create may hang, nothing may run after a free, floods stay
// bounded, and every byte of the stream reaches the DOWNLOADPROC.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kAtOnceMs = 1000;

// Each is a phase of a create where the server (or the resolver) stops
// talking, and what the radio's log shows once it got there.
struct Phase {
    const char* name;
    const char* path;
    const char* logged;
    bool by_stuck_name = false;  // the host is "<id>.stuck.test"
};
const Phase kPhases[] = {
    {"resolving the name", "/stream.mp3?id=", "EVENT resolving ", true},
    {"before the head", "/silent?id=", "/silent?id="},
    {"inside the head", "/stream.mp3?head_stall=20&id=", "EVENT stall /stream.mp3?head_stall=20&id="},
    {"dripping the head", "/stream.mp3?drip_head=700&id=", "EVENT drip /stream.mp3?drip_head=700&id="},
    {"sniffing the audio", "/stream.mp3?stall=100&id=", "EVENT stall /stream.mp3?stall=100&id="},
    {"inside the Vorbis headers", "/stream.ogg?stall=1500&id=", "EVENT stall /stream.ogg?stall=1500&id="},
    {"inside a playlist", "/late.pls?delay=600000&id=", "EVENT stall /late.pls?delay=600000&id="},
};

struct CreateResult {
    HSTREAM handle = 1;
    int error = -1;
};

std::string PhaseUrl(const Phase& phase, const std::string& id) {
    return phase.by_stuck_name ? StuckUrl(id, phase.path + id) : RadioUrl(phase.path + id);
}

TEST(EngineHostile, EveryPhaseOfACreateEndsAtItsDeadlineOrAtAFree) {
    StuckResolver stuck;
    ASSERT_TRUE(stuck.ok()) << "run through with_servers.sh --stuck-names";
    // Left alone, each create ends with the time-out at the create's deadline,
    // not after minutes; all at once, so the test waits for one deadline.
    {
        SilentEngine engine;
        ASSERT_TRUE(engine.ok());
        std::vector<CreateResult> results(std::size(kPhases));
        std::vector<std::thread> creates;
        for (size_t i = 0; i < std::size(kPhases); ++i) {
            creates.emplace_back([&, i] {
                const std::string url = PhaseUrl(kPhases[i], "late" + std::to_string(i));
                results[i].handle = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
                results[i].error = BASS_ErrorGetCode();
            });
        }
        for (auto& t : creates) t.join();
        for (size_t i = 0; i < std::size(kPhases); ++i) {
            SCOPED_TRACE(kPhases[i].name);
            EXPECT_EQ(results[i].handle, 0u);
            EXPECT_EQ(results[i].error, BASS_ERROR_TIMEOUT);
        }
    }
    // Freed while it waits there, each ends at once as cancelled.
    for (size_t i = 0; i < std::size(kPhases); ++i) {
        SCOPED_TRACE(kPhases[i].name);
        ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
        BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
        const std::string id = "free" + std::to_string(i);
        CreateResult r;
        std::thread create([&] {
            r.handle = BASS_StreamCreateURL(PhaseUrl(kPhases[i], id).c_str(), 0, 0, nullptr, nullptr);
            r.error = BASS_ErrorGetCode();
        });
        EXPECT_TRUE(WaitFor([&] { return RadioSaw(kPhases[i].logged + id); }));
        const DWORD freed = GetTickCount();
        EXPECT_TRUE(BASS_Free());
        create.join();
        EXPECT_EQ(r.handle, 0u);
        EXPECT_EQ(r.error, BASS_ERROR_INIT) << "cancelled, not timed out";
        EXPECT_LT(GetTickCount() - freed, 15000u);
    }
}

// Records what a sync callback finds, the way the player's callbacks read.
struct TitleWatch {
    std::atomic<int> calls{0};
    std::atomic<int> stale{0};  // text handed out earlier that changed under the reader
    const char* last = nullptr;
    std::string copy;
};

void CALLBACK WatchTitle(HSYNC, DWORD channel, DWORD, void* user) {
    auto* w = static_cast<TitleWatch*>(user);
    // The text handed to this thread last time must still be what it was,
    // however many titles came in between.
    if (w->last && w->copy != w->last) ++w->stale;
    w->last = BASS_ChannelGetTags(channel, BASS_TAG_META);
    w->copy = w->last ? w->last : "";
    ++w->calls;
}

TEST(EngineHostile, TitleFloodsFireOncePerBlockAndHandedTextStaysValid) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    struct Case {
        const char* query;
        QWORD bytes;  // audio played before the count is taken
    } cases[] = {
        // 100 title changes per second of audio, at its pace.
        {"metaint=160&title_every=160", 3 * 16000},
        // A new title in every metadata block of 16 bytes, as fast as it goes.
        {"fast=1&metaint=16&title_every=16", 3 * 16000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        HSTREAM h = BASS_StreamCreateURL(RadioUrl(std::string("/stream.mp3?") + c.query).c_str(), 0, 0,
                                         nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        TitleWatch watch;
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, WatchTitle, &watch), 0u);
        const DWORD start = GetTickCount();
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        ASSERT_TRUE(WaitFor([&] { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT) > c.bytes; }));
        const DWORD elapsed = GetTickCount() - start;
        const int calls = watch.calls.load();
        // A reader on this thread keeps what it was handed, too.
        const char* mine = BASS_ChannelGetTags(h, BASS_TAG_META);
        ASSERT_NE(mine, nullptr);
        const std::string kept = mine;
        ASSERT_TRUE(WaitFor([&] { return watch.calls.load() >= calls + 5; }));
        Sleep(300);  // many more titles pass meanwhile
        EXPECT_EQ(kept, mine);
        EXPECT_TRUE(BASS_StreamFree(h));
        EXPECT_EQ(watch.stale.load(), 0);
        // At most one title event per mix block (10 ms on the silent device),
        // never one per title.
        EXPECT_LE(calls, static_cast<int>(elapsed / 10 + 5)) << "in " << elapsed << " ms";
    }
}

// A DOWNLOADPROC that keeps every byte, and frees its stream on the first call
// when told to.
struct Recorder {
    std::vector<uint8_t> bytes;
    std::atomic<int> ends{0};
    std::atomic<int> calls_after_free{0};
    std::atomic<HSTREAM> free_me{0};
    std::atomic<bool> freed{false};
};

void CALLBACK Record(const void* buffer, DWORD length, void* user) {
    auto* r = static_cast<Recorder*>(user);
    if (r->freed) ++r->calls_after_free;
    if (!buffer) {
        ++r->ends;
        return;
    }
    const auto* p = static_cast<const uint8_t*>(buffer);
    r->bytes.insert(r->bytes.end(), p, p + length);
    const HSTREAM h = r->free_me.load();
    if (h != 0 && !r->freed) {
        r->freed = BASS_StreamFree(h) != FALSE;
    }
}

std::vector<uint8_t> Media(const char* name) {
    const char* dir = getenv("ORVANTIS_TEST_MEDIA");
    std::string path = std::string("Z:") + (dir ? dir : "") + "/" + name;
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

TEST(EngineHostile, DownloadProcGetsEveryByteAndNothingAfterAFreeFromInsideIt) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    // The recording holds the stream from its first byte, the ones the create
    // read to tell the format and the Vorbis headers included, without the
    // metadata: it is the file the server sends.
    struct Case {
        const char* query;
        std::vector<const char*> files;  // what the server sends, in order
        size_t bytes;
    } cases[] = {
        // Bodies that end by their framing: the download ends with them.
        {"/stream.mp3?fast=1&metaint=3000&chunked=1&close=120000", {"tone440_128.mp3"}, 120000},
        {"/stream.ogg?fast=1&length=20000", {"ogg440.ogg", "ogg660.ogg"}, 20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        std::vector<uint8_t> file;
        for (const char* name : c.files) {
            const auto part = Media(name);
            file.insert(file.end(), part.begin(), part.end());
        }
        ASSERT_GE(file.size(), c.bytes);
        Recorder rec;
        HSTREAM h = BASS_StreamCreateURL(RadioUrl(c.query).c_str(), 0, 0, Record, &rec);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(WaitFor([&] { return rec.ends.load() == 1; }));
        EXPECT_TRUE(BASS_StreamFree(h));
        EXPECT_EQ(rec.bytes.size(), c.bytes);
        EXPECT_TRUE(rec.bytes == std::vector<uint8_t>(file.begin(), file.begin() + c.bytes));
    }

    // Freed from inside its own DOWNLOADPROC: no call after that one, not
    // even the end of the download.
    Recorder rec;
    HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.mp3?fast=1").c_str(), 0, 0, Record, &rec);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    rec.free_me = h;
    ASSERT_TRUE(WaitFor([&] { return rec.freed.load(); }));
    // The server keeps sending as fast as it can: a loop that did not look
    // would call again at once.
    Sleep(300);
    EXPECT_EQ(rec.calls_after_free.load(), 0);
    EXPECT_EQ(BASS_StreamFree(h), FALSE);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// Counts callbacks that start for a stream after its free returned.
struct AfterFree {
    std::atomic<DWORD> freed{0};  // the handle whose free returned
    std::atomic<int> late{0};
    std::atomic<int> calls{0};
};

void CALLBACK CheckNotFreed(HSYNC, DWORD channel, DWORD, void* user) {
    auto* a = static_cast<AfterFree*>(user);
    ++a->calls;
    if (a->freed.load() == channel) ++a->late;
}

TEST(EngineHostile, NoSyncStartsAfterTheFreeReturns) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    AfterFree check;
    // Titles in every block of a fast stream: events are due all the time.
    const std::string url = RadioUrl("/stream.mp3?fast=1&metaint=64&title_every=64");
    for (int i = 0; i < 40; ++i) {
        HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, CheckNotFreed, &check), 0u);
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        const int before = check.calls.load();
        ASSERT_TRUE(WaitFor([&] { return check.calls.load() > before + i % 3; }));
        ASSERT_TRUE(BASS_StreamFree(h));
        check.freed = h;
        Sleep(30);  // time for a straggler to show
    }
    EXPECT_EQ(check.late.load(), 0);
}

// A listening socket on [::1]:port whose queue is full: connections to it
// get no answer at all, as from an address that drops every packet.
class DeadAddress {
public:
    explicit DeadAddress(uint16_t port) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener_ = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in6 a = {};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        a.sin6_port = htons(port);
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener_, 0) == 0;
        // Fill the queue; the kernel then leaves further attempts unanswered.
        for (int i = 0; i < 2 && ok_; ++i) {
            SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
            u_long nonblocking = 1;
            ioctlsocket(s, FIONBIO, &nonblocking);
            connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers_.push_back(s);
        }
        Sleep(100);
    }
    ~DeadAddress() {
        for (SOCKET s : fillers_) closesocket(s);
        closesocket(listener_);
        WSACleanup();
    }
    bool ok() const { return ok_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    std::vector<SOCKET> fillers_;
    bool ok_ = false;
};

TEST(EngineHostile, ConnectReachesTheSecondAddressWhenTheFirstNeverAnswers) {
    // radio.test resolves to ::1 first, then 127.0.0.1 (the runner's --hosts).
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    addrinfo hints = {}, *list = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    ASSERT_EQ(getaddrinfo("radio.test", "80", &hints, &list), 0);
    ASSERT_EQ(list->ai_family, AF_INET6);
    ASSERT_NE(list->ai_next, nullptr);
    freeaddrinfo(list);
    WSACleanup();

    const char* port = getenv("ORVANTIS_RADIO_PORT");
    ASSERT_NE(port, nullptr);
    DeadAddress dead(static_cast<uint16_t>(atoi(port)));
    ASSERT_TRUE(dead.ok());
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    const std::string url = std::string("http://radio.test:") + port + "/stream.mp3?fast=1&id=second";
    HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
    EXPECT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_TRUE(RadioSaw("id=second"));
    if (h) BASS_StreamFree(h);
}

TEST(EngineHostile, FreesReturnAtOnceWhileAReconnectWaitsForTheResolver) {
    // Two playing streams lose their connection while the resolver does not
    // answer; one is freed, then the engine with the other.
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    HSTREAM streams[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string id = "drop" + std::to_string(i);
        streams[i] = BASS_StreamCreateURL(
            StuckUrl(id, "/stream.mp3?burst=8000&close=24000&id=" + id).c_str(), 0, 0, nullptr, nullptr);
        ASSERT_NE(streams[i], 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_ChannelPlay(streams[i], FALSE));
    }
    StuckResolver stuck;
    ASSERT_TRUE(stuck.ok()) << "run through with_servers.sh --stuck-names";
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(WaitFor([&] { return RadioSaw("EVENT resolving drop" + std::to_string(i)); }));
    DWORD start = GetTickCount();
    EXPECT_TRUE(BASS_StreamFree(streams[0]));
    EXPECT_LT(GetTickCount() - start, kAtOnceMs) << "BASS_StreamFree";
    start = GetTickCount();
    EXPECT_TRUE(BASS_Free());
    EXPECT_LT(GetTickCount() - start, kAtOnceMs) << "BASS_Free";
}

}  // namespace
