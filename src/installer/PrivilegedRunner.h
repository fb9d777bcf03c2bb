#pragma once

#include <QString>
#include <QStringList>

namespace fernpoint {

// Runs a program as root after an administrator's authorization, synchronously.
class PrivilegedRunner {
public:
    struct Outcome {
        enum class Kind {
            Finished,          // the authorization helper ran; exitCode is its exit status
            AuthorizerMissing, // the authorization helper is missing or not executable
            ProgramRefused,    // the program is unsafe to run as root; nothing was asked
        };
        Kind kind = Kind::Finished;
        int exitCode = 0;
        // What the program wrote on standard error; for ProgramRefused, why it was refused.
        QString standardError;
    };

    virtual ~PrivilegedRunner() = default;
    virtual Outcome run(const QString& program, const QStringList& arguments) = 0;
};

} // namespace fernpoint
