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
        };
        Kind kind = Kind::Finished;
        int exitCode = 0;
        QString standardError; // what the program wrote on standard error
    };

    virtual ~PrivilegedRunner() = default;
    virtual Outcome run(const QString& program, const QStringList& arguments) = 0;
};

} // namespace fernpoint
