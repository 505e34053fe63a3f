// What the player makes audible on the default device, captured by the test
// runner into a file and measured by tools/audio/capture.py afterwards.
#include <gtest/gtest.h>

#include "player_window.h"

namespace {

TEST(PlayerSound, ToneStationFadesInToTheSetVolume) {
    Options options = playertest::PlayerWindow::DefaultOptions();
    options.volume = 0.8f;  // of the server's tone at half scale: 0.4 peak
    playertest::PlayerWindow w({playertest::RadioUrl("/stream.mp3")}, -1, options);
    w.Play(0);
    ASSERT_TRUE(w.PumpUntil([&] { return !w.done().empty(); }));
    ASSERT_EQ(w.done()[0], 0);
    w.PumpFor(3000);
    w.Stop();
}

}  // namespace
