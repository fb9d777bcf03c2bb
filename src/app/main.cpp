#include "AppDelegate.h"
#include "ContentView.h"
#include "DBusInstanceSignal.h"
#include "HelperClient.h"
#include "HelperInstaller.h"
#include "Localizer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QMainWindow>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

// FERNPOINT_REPORT_FIRST_FRAME=1 prints "first-frame <CLOCK_MONOTONIC ns>" once the first frame
// of the window has been painted and flushed, for the start-up measurement of scripts/perf.sh
// (its baseline window prints the same line the same way). Nothing is watched otherwise.
class FirstFrameReporter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            // The frame is flushed to the screen after the paint events of this update.
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
    QCoreApplication::setApplicationName(QStringLiteral("fernpoint"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FERNPOINT_VERSION));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("FernPoint"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.lunacore.fernpoint"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/com.lunacore.fernpoint.svg")));
    // The window only hides when closed; the tray menu and Ctrl+Q end the application.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    fernpoint::Localizer localizer;
    fernpoint::DBusInstanceSignal instanceSignal(QDBusConnection::sessionBus());
    fernpoint::AppDelegate delegate(instanceSignal, QString(fernpoint::AppDelegate::kLockPath),
                                    fernpoint::HelperInstaller::shared(), localizer,
                                    QIcon(QStringLiteral(":/icons/bolt.svg")));
    if (delegate.applicationDidFinishLaunching() ==
        fernpoint::AppDelegate::LaunchOutcome::Terminate)
        return 0;

    QSettings settings;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("FernPoint"));
    window.setCentralWidget(new fernpoint::ContentView(fernpoint::HelperClient::shared(),
                                                       fernpoint::HelperInstaller::shared(),
                                                       localizer, settings));
    delegate.setMainWindow(&window);
    window.show();
    return QCoreApplication::exec();
}
