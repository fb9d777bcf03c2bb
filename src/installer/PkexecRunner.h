#pragma once

#include "PrivilegedRunner.h"

namespace fernpoint {

// Runs a program as root through pkexec, whose polkit agent shows the administrator prompt. The
// call blocks until the program ends, with no time limit: a person may take long to answer.
class PkexecRunner final : public PrivilegedRunner {
public:
    // authorizer: "pkexec" is looked up on PATH; an absolute path is taken as it is.
    explicit PkexecRunner(QString authorizer = QStringLiteral("pkexec"));

    Outcome run(const QString& program, const QStringList& arguments) override;

private:
    QString m_authorizer;
};

} // namespace fernpoint
