// The settings store against real INI files through the private-profile API.
#include "settings/config_manager.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/options.h"

namespace {

class ConfigManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[MAX_PATH] = {};
        GetTempPathA(sizeof dir, dir);
        char name[MAX_PATH] = {};
        ASSERT_NE(0u, GetTempFileNameA(dir, "ini", 0, name));
        path_ = name;
        DeleteFileA(path_.c_str());  // each test starts without a file
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    void WriteFile(const std::string& text) {
        std::ofstream out(path_, std::ios::binary);
        out << text;
    }

    std::string ReadFile() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string result;
        for (char c : text.str()) {
            if (c != '\r') result += c;
        }
        return result;
    }

    // A store of our own, released at the end of the test.
    CConfigManager* Store() {
        store_ = new CConfigManager(path_.c_str());
        return store_;
    }

    void TearDownStore() {
        if (store_) {
            EXPECT_EQ(0, store_->Release());
        }
        store_ = nullptr;
    }

    ~ConfigManagerTest() override { TearDownStore(); }

    std::string path_;
    CConfigManager* store_ = nullptr;
};

TEST_F(ConfigManagerTest, WithoutAFileEveryOptionIsOffAndZero) {
    Options options;
    options.showSpectrum = options.centerSpectrum = options.hideSpectrumOnHover = true;
    options.muteOnLock = options.muteOnLockEffect = true;
    options.volume = options.pan = 0.5f;  // sentinels: loading must overwrite them
    CConfigManager* store = Store();
    EXPECT_TRUE(store->LockReady());
    settings::LoadOptions(store, options);
    EXPECT_FALSE(options.showSpectrum);
    EXPECT_FALSE(options.centerSpectrum);
    EXPECT_FALSE(options.hideSpectrumOnHover);
    EXPECT_FALSE(options.muteOnLock);
    EXPECT_FALSE(options.muteOnLockEffect);
    EXPECT_EQ(0.0f, options.volume);
    EXPECT_EQ(0.0f, options.pan);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path_.c_str()))
        << "reading must not create the file";
}

TEST_F(ConfigManagerTest, ValuesReadLeniently) {
    WriteFile(
        "[orvantis]\r\n"
        "one=1\r\ntwo=2\r\nword=yes\r\nempty=\r\nminus=-1\r\n"
        "float=0.75\r\nnegative=-1.000000\r\ntrailing=0.5 dB\r\ngarbage=loud\r\n"
        "nothing=\r\ncomma=0,5\r\n"
        "[other]\r\nfloat=0.25\r\n");
    CConfigManager* store = Store();
    ASSERT_TRUE(store->SelectSection("orvantis"));
    EXPECT_TRUE(store->ReadBool("one"));
    EXPECT_FALSE(store->ReadBool("two"));
    EXPECT_FALSE(store->ReadBool("word"));
    EXPECT_FALSE(store->ReadBool("empty"));
    EXPECT_FALSE(store->ReadBool("minus"));
    EXPECT_FALSE(store->ReadBool("missing"));
    EXPECT_DOUBLE_EQ(0.75, store->ReadFloat("float"));
    EXPECT_DOUBLE_EQ(-1.0, store->ReadFloat("negative"));
    EXPECT_DOUBLE_EQ(0.5, store->ReadFloat("trailing"));
    EXPECT_DOUBLE_EQ(0.0, store->ReadFloat("garbage"));
    EXPECT_DOUBLE_EQ(0.0, store->ReadFloat("nothing"));
    EXPECT_DOUBLE_EQ(0.0, store->ReadFloat("missing"));
    EXPECT_DOUBLE_EQ(0.0, store->ReadFloat("comma"));
    // Switching the section switches every access.
    ASSERT_TRUE(store->SelectSection("other"));
    EXPECT_DOUBLE_EQ(0.25, store->ReadFloat("float"));
}

TEST_F(ConfigManagerTest, NothingHappensWithoutASection) {
    WriteFile("[orvantis]\r\nkey=1\r\n");
    CConfigManager* store = Store();
    EXPECT_FALSE(store->ReadBool("key"));
    EXPECT_EQ(0.0, store->ReadFloat("key"));
    EXPECT_FALSE(store->WriteBool("key", false));
    EXPECT_FALSE(store->WriteFloat("key", 2.0));
    EXPECT_EQ("[orvantis]\nkey=1\n", ReadFile());
}

TEST_F(ConfigManagerTest, SavingWritesAllSevenKeysInOrder) {
    Options options;
    options.showSpectrum = true;
    options.hideSpectrumOnHover = true;
    options.volume = 0.25f;
    options.pan = -0.5f;
    options.muteOnLockEffect = true;
    EXPECT_TRUE(settings::SaveOptions(Store(), options));
    EXPECT_EQ(
        "[orvantis]\n"
        "orvantis.ui.spectrum.show=1\n"
        "orvantis.ui.spectrum.center=0\n"
        "orvantis.ui.spectrum.hide_on_hover=1\n"
        "orvantis.audio.vol=0.250000\n"
        "orvantis.audio.pan=-0.500000\n"
        "orvantis.audio.mute_on_lock=0\n"
        "orvantis.audio.mute_on_lock.fun=1\n",
        ReadFile());

    // And a fresh store reads back what was saved.
    TearDownStore();
    Options loaded;
    settings::LoadOptions(Store(), loaded);
    EXPECT_TRUE(loaded.showSpectrum);
    EXPECT_FALSE(loaded.centerSpectrum);
    EXPECT_TRUE(loaded.hideSpectrumOnHover);
    EXPECT_FLOAT_EQ(0.25f, loaded.volume);
    EXPECT_FLOAT_EQ(-0.5f, loaded.pan);
    EXPECT_FALSE(loaded.muteOnLock);
    EXPECT_TRUE(loaded.muteOnLockEffect);
}

TEST_F(ConfigManagerTest, AFailedWriteIsReported) {
    // A directory in the file's place cannot be written.
    ASSERT_TRUE(CreateDirectoryA(path_.c_str(), nullptr));
    CConfigManager* store = Store();
    store->SelectSection("orvantis");
    EXPECT_FALSE(store->WriteBool("key", true));
    EXPECT_FALSE(store->WriteFloat("key", 1.0));
    RemoveDirectoryA(path_.c_str());
}

TEST_F(ConfigManagerTest, ThreadsWritingAtOnceLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 25;
    CConfigManager* store = Store();
    store->SelectSection("orvantis");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([store, t] {
            for (int k = 0; k < kKeysEach; ++k) {
                const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
                store->WriteFloat(key.c_str(), t + k / 100.0);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeysEach; ++k) {
            const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
            EXPECT_NEAR(t + k / 100.0, store->ReadFloat(key.c_str()), 1e-6) << key;
        }
    }
}

TEST(RefCount, TheLastReleaseDestroys) {
    struct Counted : IRefCount {
        explicit Counted(bool* gone) : gone_(gone) {}
        ~Counted() override { *gone_ = true; }
        bool* gone_;
    };
    bool gone = false;
    Counted* object = new Counted(&gone);
    object->AddRef();
    EXPECT_EQ(1, object->Release());
    EXPECT_FALSE(gone);
    Counted* alias = object;
    ReleaseAndClear(alias);
    EXPECT_TRUE(gone);
    EXPECT_EQ(nullptr, alias);
    ReleaseAndClear(alias);  // nothing left to release: no effect
}

}  // namespace
