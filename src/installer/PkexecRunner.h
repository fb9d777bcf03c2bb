#pragma once

#include "PrivilegedRunner.h"

namespace fernpoint {

// Runs a program as root through pkexec, whose polkit agent shows the administrator prompt. The
// call blocks until the program ends, with no time limit: a person may take long to answer.
// Before anyone is asked, the program is checked (see rootOnlyProgramProblem): an administrator
// must never be asked to run something another user could have put in its place.
class PkexecRunner final : public PrivilegedRunner {
public:
    // authorizer: an absolute path, never looked up on PATH (which the user controls).
    explicit PkexecRunner(QString authorizer = QStringLiteral("/usr/bin/pkexec"));

    Outcome run(const QString& program, const QStringList& arguments) override;

private:
    QString m_authorizer;
};

} // namespace fernpoint
