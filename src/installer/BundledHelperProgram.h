#pragma once

#include <QString>

namespace fernpoint {

// Where the helper program shipped with the application lies, given the folder of the running
// application: <prefix>/libexec/fernpoint/fernpoint-helper for an installed application
// (<prefix>/bin/fernpoint), or fernpoint-helper beside the application in the build tree. When
// neither exists, the installed location is returned so that the failure names it.
QString bundledHelperProgramPath(const QString& applicationDirectory);

} // namespace fernpoint
