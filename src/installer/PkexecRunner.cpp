#include "PkexecRunner.h"

#include "RootOnlyProgram.h"

#include <QFileInfo>
#include <QProcess>

namespace fernpoint {

PkexecRunner::PkexecRunner(QString authorizer)
    : m_authorizer(std::move(authorizer)) {}

PrivilegedRunner::Outcome PkexecRunner::run(const QString& program, const QStringList& arguments) {
    Outcome outcome;
    if (const QString problem = rootOnlyProgramProblem(program); !problem.isEmpty()) {
        outcome.kind = Outcome::Kind::ProgramRefused;
        outcome.standardError = problem;
        return outcome;
    }
    const QFileInfo info(m_authorizer);
    if (!info.isAbsolute() || !info.isFile() || !info.isExecutable()) {
        outcome.kind = Outcome::Kind::AuthorizerMissing;
        return outcome;
    }

    QProcess process;
    process.setProgram(m_authorizer);
    process.setArguments(QStringList{program} + arguments);
    // pkexec refuses to work without a controlling terminal's stdin on some versions; an empty
    // stdin is what a desktop launch gives it anyway.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1)) {
        outcome.kind = Outcome::Kind::AuthorizerMissing;
        return outcome;
    }
    process.waitForFinished(-1);
    outcome.standardError = QString::fromUtf8(process.readAllStandardError());
    // A crash has no exit status of its own; report it as a failure without one.
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

} // namespace fernpoint
