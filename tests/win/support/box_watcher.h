// Finds message boxes that the code under test opens on its own thread, from a
// second thread: records their caption and text and answers them.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct SeenBox {
    std::string caption;
    std::string text;
    bool yesNo = false;  // the box offers Yes and No rather than OK
};

class BoxWatcher {
public:
    // Picks the button to press (IDOK, IDYES, IDNO) for a box.
    using Chooser = std::function<int(const std::string& caption, const std::string& text)>;

    // Presses OK (or the only button) on every box, as a user would.
    BoxWatcher();
    explicit BoxWatcher(Chooser chooser);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // Boxes seen and answered so far.
    std::vector<SeenBox> Boxes();

private:
    void Run();
    void Visit(HWND box);

    Chooser chooser_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> boxes_;
    std::thread thread_;
};

// Texts of a dialog's static controls, joined: the message of a message box.
std::string BoxText(HWND box);

}  // namespace testsupport
