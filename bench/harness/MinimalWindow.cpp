// fernpoint-minimal-window: the baseline of scripts/perf.sh. The smallest Qt Widgets program
// with the same window tree as FernPoint (a main window with one central widget), the same
// application settings and the same first-frame report, so that the start-up time and memory
// of FernPoint can be compared with what Qt itself costs on this machine.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

// The same report as FernPoint's: "first-frame <CLOCK_MONOTONIC ns>" after the first frame.
class FirstFrameReporter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
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

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    FirstFrameReporter firstFrameReporter;
    if (qEnvironmentVariableIsSet("FERNPOINT_REPORT_FIRST_FRAME"))
        app.installEventFilter(&firstFrameReporter);
    QCoreApplication::setOrganizationName(QStringLiteral("FernPoint"));
    QCoreApplication::setApplicationName(QStringLiteral("fernpoint-minimal-window"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Minimal"));
    // Closing hides the window and the process lives on, as FernPoint's does.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.setCentralWidget(new QLabel(QStringLiteral("FernPoint")));
    window.show();
    return QCoreApplication::exec();
}
