// libfernpoint-first-frame.so: fernpoint-perf loads it into each measured program with LD_PRELOAD.
// It prints "first-frame <CLOCK_MONOTONIC ns>" once the first frame of the program's window has
// been painted and flushed. The programs themselves carry no such hook, so the shipped application
// is measured exactly as it ships, and so is any other build of it.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

class FirstFrameReporter final : public QObject {
public:
    using QObject::QObject;

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

// Runs as the program's application object is made.
void installReporter() {
    QCoreApplication* application = QCoreApplication::instance();
    application->installEventFilter(new FirstFrameReporter(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installReporter)
