// Streams over TLS from the test radio's TLS front: its test root is trusted
// the way a user's system trusts a root, through the Root store of the
// prefix, for the whole run (the chain engine reads the store once).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr double kToneHz = 440.0;
constexpr QWORD kASecondOfMp3 = 128000 / 8;
constexpr DWORD kAtOnceMs = 1000;

class TrustTestRoot : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string ca = UnixPathFromEnv("ORVANTIS_TEST_CA");
        trusted_ = !ca.empty() && TrustRoot(ca, true);
        if (!ca.empty()) {
            ASSERT_TRUE(trusted_) << "the test root could not be added to the Root store";
        }
    }
    void TearDown() override {
        if (trusted_) {
            EXPECT_TRUE(TrustRoot(UnixPathFromEnv("ORVANTIS_TEST_CA"), false));
        }
    }

private:
    bool trusted_ = false;
};
::testing::Environment* const kTrust = ::testing::AddGlobalTestEnvironment(new TrustTestRoot);

class EngineHttps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HaveTls()) << "run through with_servers.sh --https";
        ASSERT_TRUE(engine_.ok());
    }
    SilentEngine engine_;
};

TEST_F(EngineHttps, StationsPlayOverTlsAndAcrossRedirectsBetweenTheSchemes) {
    const std::string secure_mp3 = TlsUrl("GOOD", "/stream.mp3");
    const std::string cases[] = {
        secure_mp3,
        TlsUrl("GOOD", "/stream.mp3?chunked=1&metaint=8192&title_every=16000"),
        // http -> https and https -> http.
        RadioUrl("/redirect?to=" + QueryValue(secure_mp3 + "?id=from-http")),
        TlsUrl("GOOD", "/redirect?to=" + QueryValue(RadioUrl("/stream.mp3?id=from-https"))),
        // A playlist fetched over TLS whose entry is plain http.
        TlsUrl("GOOD", "/list.pls"),
        // A server that asks for a client certificate and does without one.
        TlsUrl("OPTIONAL_CLIENT_CERT", "/stream.mp3"),
        // The intermediate is fetched from where the certificate says.
        TlsUrl("ISSUER_BY_URL", "/stream.mp3"),
    };
    for (const std::string& url : cases) {
        SCOPED_TRACE(url);
        HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        const char* head = BASS_ChannelGetTags(h, BASS_TAG_HTTP);
        EXPECT_TRUE(TagListHas(head, "icy-name: Orvantis Test Radio"));
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfMp3)) << PlayingFrequency(h);
        EXPECT_TRUE(BASS_StreamFree(h));
    }
    EXPECT_TRUE(RadioSaw("GET /stream.mp3?id=from-http"));
    EXPECT_TRUE(RadioSaw("GET /stream.mp3?id=from-https"));

    // Windows' SChannel reports that request as SEC_I_INCOMPLETE_CREDENTIALS
    // and wants the same bytes again; Wine's answers it on its own, so the
    // engine's test build reports it as Windows would.
    SetEnvironmentVariableA("ORVANTIS_TLS_FAULTS", "ask-certificate");
    HSTREAM h = BASS_StreamCreateURL(TlsUrl("OPTIONAL_CLIENT_CERT", "/stream.mp3").c_str(), 0,
                                     kPlayerFlags, nullptr, nullptr);
    SetEnvironmentVariableA("ORVANTIS_TLS_FAULTS", nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfMp3)) << PlayingFrequency(h);
    EXPECT_TRUE(BASS_StreamFree(h));
}

TEST_F(EngineHttps, CertificatesThatAreNotGoodFailWithTheSslErrorAtOnce) {
    const std::string cases[] = {
        TlsUrl("EXPIRED", "/stream.mp3"),
        TlsUrl("WRONG_HOST", "/stream.mp3"),
        TlsUrl("UNTRUSTED", "/stream.mp3"),
        // Its issuer is in no store and the server does not send it.
        TlsUrl("UNKNOWN_ISSUER", "/stream.mp3"),
        // The good certificate names localhost, not the address.
        "https://127.0.0.1:" + std::string(getenv("ORVANTIS_TLS_GOOD_PORT")) + "/stream.mp3",
        // Redirected from plain http to a bad certificate.
        RadioUrl("/redirect?to=" + QueryValue(TlsUrl("EXPIRED", "/stream.mp3"))),
    };
    for (const std::string& url : cases) {
        SCOPED_TRACE(url);
        // The create runs beside the test, which waits for it no longer than
        // the bound; the engine's own time limits are seconds longer, so only
        // the certificate check can end it in time.
        std::atomic<bool> done{false};
        HSTREAM h = 1;
        DWORD error = 0;
        std::thread create([&] {
            h = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
            error = BASS_ErrorGetCode();
            done = true;
        });
        EXPECT_TRUE(WaitFor([&] { return done.load(); }, kAtOnceMs)) << "still connecting";
        create.join();
        EXPECT_EQ(h, 0u);
        EXPECT_EQ(error, static_cast<DWORD>(BASS_ERROR_SSL));
        if (h) BASS_StreamFree(h);
    }
}

TEST_F(EngineHttps, FetchingAMissingIssuerEndsAtTheDeadlineOrAtAFree) {
    // The server does not send the intermediate; its certificate names where
    // it is, by a name whose lookup never ends.
    StuckResolver stuck;
    ASSERT_TRUE(stuck.ok()) << "run through with_servers.sh --stuck-names";
    const std::string url = TlsUrl("SECOND_ISSUER_BY_URL", "/stream.mp3");
    const std::string fetch = "EVENT resolving second-issuer-by-url.stuck.test";
    // Left alone, the create ends at the time its handshake has.
    EXPECT_EQ(BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TIMEOUT);
    const int fetches = RadioCount(fetch);
    ASSERT_GE(fetches, 1) << "the issuer was not fetched";
    // Freed meanwhile, it ends at once.
    std::atomic<bool> done{false};
    HSTREAM h = 1;
    DWORD error = 0;
    std::thread create([&] {
        h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
        error = BASS_ErrorGetCode();
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return RadioCount(fetch) > fetches; }));
    const DWORD freed = GetTickCount();
    EXPECT_TRUE(BASS_Free());
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, kAtOnceMs)) << "still checking";
    EXPECT_LT(GetTickCount() - freed, kAtOnceMs);
    create.join();
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(error, static_cast<DWORD>(BASS_ERROR_INIT)) << "cancelled, not timed out";
}

}  // namespace
