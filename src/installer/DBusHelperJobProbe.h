#pragma once

#include "HelperJobProbe.h"

#include <QDBusConnection>

namespace fernpoint {

// The helper counts as installed when the bus can start it (its name is activatable) or when
// something owns its name right now.
class DBusHelperJobProbe final : public HelperJobProbe {
public:
    explicit DBusHelperJobProbe(const QDBusConnection& bus);

    // False as well when the bus cannot be asked: then nothing could reach the helper either.
    bool isHelperJobPresent() override;

private:
    QDBusConnection m_bus;
};

} // namespace fernpoint
