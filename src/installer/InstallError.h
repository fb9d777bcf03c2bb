#pragma once

#include <QString>

namespace fernpoint {

// An installation failure: a domain, a code and the description that users read.
struct InstallError {
    QString domain;
    int code = 0;
    QString localizedDescription;
};

} // namespace fernpoint
