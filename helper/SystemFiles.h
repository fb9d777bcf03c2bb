#pragma once

#include <QByteArray>
#include <QString>

namespace fernpoint {

// The system files compiled into the helper from the templates in helper/data.
class SystemFiles final {
public:
    // fileName is one of the four generated names (e.g. "fernpoint-helper.service").
    // Lines that name the installed program are pointed at installedProgramPath, so that an
    // installation under a --root runs its own copy.
    static QByteArray content(const QString& fileName, const QString& installedProgramPath);
};

} // namespace fernpoint
