#pragma once

#include "HelperJobProbe.h"
#include "PackagedHelper.h"

#include <QDBusConnection>

namespace fernpoint {

// The helper counts as installed when the bus can start it (its name is activatable) or when
// something owns its name right now.
class DBusHelperJobProbe final : public HelperJobProbe {
public:
    explicit DBusHelperJobProbe(const QDBusConnection& bus,
                                PackagedHelper::System system = PackagedHelper::System::current());

    // False as well when the bus cannot be asked: then nothing could reach the helper either.
    bool isHelperJobPresent() override;
    // The package's files first, since the Ping that follows starts the helper.
    bool isPackagedHelperCurrent() override;

private:
    QDBusConnection m_bus;
    PackagedHelper::System m_system;
};

} // namespace fernpoint
