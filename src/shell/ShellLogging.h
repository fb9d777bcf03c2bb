#pragma once

#include <QLoggingCategory>

namespace fernpoint {

// The shell's diagnostics: launching, the other instance, the tray and the window.
Q_DECLARE_LOGGING_CATEGORY(lcShell)

} // namespace fernpoint
