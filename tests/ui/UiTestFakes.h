#pragma once

#include "HelperJobProbe.h"
#include "PrivilegedRunner.h"

namespace fernpoint::test {

// Stands in for the bus look-up of a running helper job.
class FakeJobProbe final : public HelperJobProbe {
public:
    bool present = true;
    int calls = 0;
    bool isHelperJobPresent() override {
        ++calls;
        return present;
    }
};

// Stands in for pkexec: never runs anything, answers with a fixed outcome.
class FakeRunner final : public PrivilegedRunner {
public:
    Outcome outcome{Outcome::Kind::Finished, 1, QStringLiteral("install step refused")};
    int calls = 0;
    Outcome run(const QString&, const QStringList&) override {
        ++calls;
        return outcome;
    }
};

} // namespace fernpoint::test
