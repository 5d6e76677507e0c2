// Headless backend of the popup window, for builds without a window system:
// a driver installed by the caller (tests) plays the user. Without a driver no
// window can be shown.
#if !defined(_WIN32)
#include <mutex>

#include "ui/KwPopupWindow.h"

namespace {

std::mutex& DriverLock() {
    static std::mutex lock;
    return lock;
}

KwPopupDriver& Driver() {
    static KwPopupDriver driver;
    return driver;
}

}  // namespace

KwPopupDriver KwSetHeadlessPopupDriver(KwPopupDriver driver) {
    std::lock_guard<std::mutex> guard(DriverLock());
    std::swap(Driver(), driver);
    return driver;
}

bool KwRunPopupBackend(KwPopupWindow& popup) {
    KwPopupDriver driver;
    {
        std::lock_guard<std::mutex> guard(DriverLock());
        driver = Driver();
    }
    if (!driver) return false;
    driver(popup);
    // A driver that returns without pressing a button closed the window.
    if (popup.IsOpen()) popup.OnCancel();
    if (popup.IsOpen()) popup.Close(KwPopupWindow::Result::kCancel);
    return true;
}
#endif
