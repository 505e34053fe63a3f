// Finds message boxes that the code under test opens on its own thread, from a
// second thread: records their caption and text and closes them.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct SeenBox {
    std::string caption;
    std::string text;
};

class BoxWatcher {
public:
    BoxWatcher();
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // Boxes seen and closed so far.
    std::vector<SeenBox> Boxes();

private:
    void Run();
    void Visit(HWND box);

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> boxes_;
    std::thread thread_;
};

// Texts of a dialog's static controls, joined: the message of a message box.
std::string BoxText(HWND box);

}  // namespace testsupport
