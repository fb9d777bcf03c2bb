#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace fernpoint {

// With FERNPOINT_REPORT_FIRST_FRAME set, prints "first-frame <CLOCK_MONOTONIC ns>" once the first
// frame of the window has been painted and flushed, for the start-up measurement of
// scripts/perf.sh; its baseline window reports the same way. Nothing is watched otherwise.
class FirstFrameReporter final : public QObject {
public:
    explicit FirstFrameReporter(QCoreApplication& application) {
        if (qEnvironmentVariableIsSet("FERNPOINT_REPORT_FIRST_FRAME"))
            application.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            // The frame reaches the screen after the paint events of this update.
            QTimer::singleShot(0, [] {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("first-frame %lld\n",
                            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_reported = false;
};

} // namespace fernpoint
