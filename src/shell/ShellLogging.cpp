#include "ShellLogging.h"

namespace fernpoint {

Q_LOGGING_CATEGORY(lcShell, "fernpoint.shell")

} // namespace fernpoint
