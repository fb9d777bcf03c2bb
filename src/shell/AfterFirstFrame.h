#pragma once

#include <functional>

class QWidget;

namespace fernpoint {

// Runs `work` once, as soon as the first frame of `window` is on the screen: for what the window
// does not draw (its icon in the window list, say), which then costs no start-up time. Nothing
// runs if the window is gone before it is painted.
void runAfterFirstFrame(QWidget& window, std::function<void()> work);

} // namespace fernpoint
