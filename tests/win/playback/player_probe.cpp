// Not a test: the player's side of bench/program-wine, one start per run.
//   player_probe URL SECONDS   says "start" just before the player's start,
//   plays for SECONDS on the default device, then prints when the thread's
//   first report (the stream made) and its done (playing) came.
#include <cstdio>
#include <cstdlib>

#include "player_window.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: player_probe URL SECONDS\n");
        return 2;
    }
    Options options = playertest::PlayerWindow::DefaultOptions();
    options.volume = 1.0f;
    playertest::PlayerWindow w({argv[1]}, -1, options);
    w.PumpFor(200);  // the window settles before the clock starts
    std::printf("start\n");
    std::fflush(stdout);
    const double start = playertest::PlayerWindow::NowMs();
    w.Play(0);
    if (!w.PumpUntil([&] { return !w.done().empty(); }) || w.done()[0] != 0) return 1;
    w.PumpFor(static_cast<DWORD>(std::atof(argv[2]) * 1000));
    std::printf("created_ms %.1f playing_ms %.1f\n", w.firstReportMs() - start,
                w.firstDoneMs() - start);
    w.Stop();
    return 0;
}
