// fernpoint-minimal-window: the baseline of scripts/perf.sh. The smallest Qt Widgets program
// with the same window tree as FernPoint (a main window with one central widget) and the same
// application settings, so that the start-up time and memory of FernPoint can be compared with
// what Qt itself costs on this machine (fernpoint-perf hooks the same first-frame report into
// both).

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
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
