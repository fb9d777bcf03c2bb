// fernpoint-perf: the figures of scripts/perf.sh. It starts FernPoint and the baseline window as
// real processes on an X display (Xvfb under scripts/perf.sh), with private buses, a temporary
// home and the reference helper, and measures start-up, memory and idle wake-ups; then it times
// one poll cycle in process and drives 250,000 polls through the real bus client.
//
//   fernpoint-perf [--quick] [--windows-only]
//     --quick: fewer runs and shorter windows, for a smoke check
//     --windows-only: only the start-up, memory and wake-up figures (no poll cycle, no polls)
//   FERNPOINT_PERF_APP=<path> measures that build of the application instead of this tree's.

#include "BenchSupport.h"
#include "DBusHelperClient.h"
#include "GatewayManager.h"
#include "HelperContract.h"
#include "HistoryRecorder.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMetaMethod>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::TemporaryHome;

namespace {

struct Settings {
    int startupRuns = 7;
    int idleSeconds = 30;
    int hiddenSettleSeconds = 10;
    int polls = 250000;
    int pollCycles = 2000;
};

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

double median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double quantile(std::vector<double> values, double q) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

// A field of /proc/<pid>/status (or a task's), in its own unit; -1 when missing.
qint64 statusField(const QString& path, QByteArrayView name) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(name) && line.size() > name.size() && line.at(name.size()) == ':')
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 rssKiB(qint64 pid) {
    return statusField(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS");
}

// Context switches of the main thread (its task ID is the process ID): each one is a wake-up.
qint64 mainThreadSwitches(qint64 pid) {
    const QString path = QStringLiteral("/proc/%1/task/%1/status").arg(pid);
    const qint64 voluntary = statusField(path, "voluntary_ctxt_switches");
    const qint64 involuntary = statusField(path, "nonvoluntary_ctxt_switches");
    return voluntary < 0 || involuntary < 0 ? -1 : voluntary + involuntary;
}

// Sends WM_DELETE_WINDOW to the top-level windows of a process, as a window manager does when
// the user clicks the close button; the program sees a close event. Returns how many it found.
int closeWindowsOf(qint64 pid) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    int sent = 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (pidAtom != None &&
        XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                                   &format, &items, &after, &data) == Success &&
                data && items == 1 && format == 32) {
                const auto windowPid = static_cast<qint64>(*reinterpret_cast<unsigned long*>(data));
                XWindowAttributes attributes{};
                if (windowPid == pid && XGetWindowAttributes(display, children[i], &attributes) &&
                    attributes.map_state == IsViewable) {
                    XEvent event{};
                    event.xclient.type = ClientMessage;
                    event.xclient.window = children[i];
                    event.xclient.message_type = protocols;
                    event.xclient.format = 32;
                    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
                    event.xclient.data.l[1] = CurrentTime;
                    XSendEvent(display, children[i], False, NoEventMask, &event);
                    ++sent;
                }
            }
            if (data)
                XFree(data);
        }
        if (children)
            XFree(children);
    }
    XFlush(display);
    XCloseDisplay(display);
    return sent;
}

// Takes the keyboard focus away from every window, as when the user works in another program:
// the window stays shown but inactive (no text cursor blinking in it).
void unfocusAll() {
    if (Display* display = XOpenDisplay(nullptr)) {
        XSetInputFocus(display, None, RevertToNone, CurrentTime);
        XFlush(display);
        XCloseDisplay(display);
    }
}

// Everything a launched FernPoint needs so that it never touches the user's own things: a home,
// a session bus, a system bus with the reference helper on it, and the helper recorded as
// installed (so no installation, and no pkexec, is ever attempted).
class Surroundings {
public:
    Surroundings() {
        QDir().mkpath(m_home.configHome() + QStringLiteral("/FernPoint"));
        QFile config(m_home.configHome() + QStringLiteral("/FernPoint/fernpoint.conf"));
        if (config.open(QIODevice::WriteOnly))
            config.write("[General]\nfernpoint.helper.installedVersion=" +
                         QByteArray(fernpoint::contract::kVersion.data()) + "\n");
    }
    ~Surroundings() { stopHelper(); }

    bool ready() const { return m_systemBus.isRunning() && m_sessionBus.isRunning(); }
    const PrivateBus& systemBus() const { return m_systemBus; }

    bool startHelper(int stepDelayMs) {
        // The helper logs every call; thousands of lines would bury the table.
        m_helper.setStandardErrorFile(QProcess::nullDevice());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_systemBus.address());
        m_helper.setProcessEnvironment(environment);
        m_helper.start(QStringLiteral(FERNPOINT_HELPER_PATH),
                       {QStringLiteral("--no-authorization"),
                        QStringLiteral("--step-delay-ms=%1").arg(stepDelayMs)});
        if (!m_helper.waitForStarted(5000))
            return false;
        QDBusConnection probe =
            QDBusConnection::connectToBus(m_systemBus.address(), QStringLiteral("perf-probe"));
        QElapsedTimer clock;
        clock.start();
        bool owned = false;
        while (!owned && clock.elapsed() < 10000) {
            owned = probe.interface()->isServiceRegistered(fernpoint::contract::kBusName);
            if (!owned)
                QTest::qWait(50);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("perf-probe"));
        return owned;
    }

    void stopHelper() {
        if (m_helper.state() != QProcess::NotRunning) {
            m_helper.kill();
            m_helper.waitForFinished(3000);
        }
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_systemBus.address());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_sessionBus.address());
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.dataHome());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.configHome());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           m_home.path() + QStringLiteral("/runtime"));
        environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("FERNPOINT_REPORT_FIRST_FRAME"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return environment;
    }

private:
    TemporaryHome m_home;
    PrivateBus m_systemBus;
    PrivateBus m_sessionBus;
    QProcess m_helper;
};

// One launched program, killed when it goes.
class Launched {
public:
    Launched(const QString& program, const QProcessEnvironment& environment) {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_startNs = monotonicNs();
        m_process.start(program, {});
    }
    ~Launched() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    // Milliseconds from the start to the first frame; nullopt when none came in time.
    std::optional<double> waitForFirstFrame(int timeoutMs = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(50);
            m_output += m_process.readAllStandardOutput();
            const qsizetype at = m_output.indexOf("first-frame ");
            if (at >= 0 && m_output.indexOf('\n', at) > at) {
                const qint64 ns = m_output.mid(at + 12, m_output.indexOf('\n', at) - at - 12)
                                      .trimmed()
                                      .toLongLong();
                return static_cast<double>(ns - m_startNs) / 1e6;
            }
        }
        return std::nullopt;
    }

private:
    QProcess m_process;
    QByteArray m_output;
    qint64 m_startNs = 0;
};

struct WindowFigures {
    double firstFrameMs = -1;
    double rssShownKiB = -1;
    double rssHiddenKiB = -1;
    double wakeupsShown = -1;
    double wakeupsHidden = -1;
};

// Waits in the harness's own event loop (it keeps the buses' clients served).
void sleepSeconds(double seconds) {
    QTest::qWait(static_cast<int>(seconds * 1000));
}

double wakeupsPerSecond(qint64 pid, int seconds) {
    const qint64 before = mainThreadSwitches(pid);
    sleepSeconds(seconds);
    const qint64 after = mainThreadSwitches(pid);
    return before < 0 || after < 0 ? -1 : static_cast<double>(after - before) / seconds;
}

WindowFigures measureWindow(const QString& program, const Surroundings& surroundings,
                            const Settings& settings, const char* label) {
    WindowFigures figures;
    std::vector<double> frames;
    for (int run = 0; run < settings.startupRuns; ++run) {
        Launched launched(program, surroundings.environment());
        if (const std::optional<double> ms = launched.waitForFirstFrame())
            frames.push_back(*ms);
        else
            std::fprintf(stderr, "%s: no first frame in run %d\n", label, run + 1);
    }
    figures.firstFrameMs = median(frames);

    // Memory and wake-ups: one long-lived process, window shown, then hidden by a close request.
    std::vector<double> shown, hidden;
    Launched launched(program, surroundings.environment());
    if (!launched.waitForFirstFrame())
        return figures;
    unfocusAll();
    sleepSeconds(3);
    figures.rssShownKiB = static_cast<double>(rssKiB(launched.pid()));
    figures.wakeupsShown = wakeupsPerSecond(launched.pid(), settings.idleSeconds);
    if (closeWindowsOf(launched.pid()) != 1) {
        std::fprintf(stderr, "%s: could not find its window to close\n", label);
        return figures;
    }
    sleepSeconds(settings.hiddenSettleSeconds);
    if (!launched.running())
        return figures;
    figures.rssHiddenKiB = static_cast<double>(rssKiB(launched.pid()));
    figures.wakeupsHidden = wakeupsPerSecond(launched.pid(), settings.idleSeconds);
    return figures;
}

// One poll cycle on the main thread, as the window runs it: the answer is moved to the main
// thread, parsed and applied, and the status panel records the network in the history, which
// rewrites the file atomically (100 entries).
std::pair<double, double> measurePollCycle(const Settings& settings, bool withHistory) {
    QTemporaryDir folder;
    double now = 738000000.0;
    NetworkProfileStore store(folder.path() + QStringLiteral("/FernPoint"),
                              [&now] { return now += 5.0; });
    QList<NetworkProfile> profiles;
    for (int i = 0; i < 100; ++i) {
        profiles.append({QStringLiteral("%1").arg(i, 16, 16, QLatin1Char('0')),
                         QStringLiteral("Network %1").arg(i),
                         QStringLiteral("Branch office number %1").arg(i), 737000000.0 + i});
    }
    store.setProfiles(profiles);
    bench::KeptStatusClient client;
    GatewayManager manager(client);
    manager.setNetworkID(profiles.at(50).networkID);
    std::optional<HistoryRecorder> recorder;
    if (withHistory) {
        recorder.emplace(manager, store);
        recorder->noteFilledIn(manager.networkID()); // as the window does when it appears
    }
    manager.applyNatSetting(); // its answer asks for the status once: keep that completion
    QCoreApplication::sendPostedEvents();
    if (!client.statusCompletion)
        return {-1, -1};
    const GatewayStatus reply{true, bench::typicalStatusJson(), true};
    std::vector<double> samples;
    for (int i = -settings.pollCycles / 10; i < settings.pollCycles; ++i) {
        const auto start = std::chrono::steady_clock::now();
        client.statusCompletion(reply);
        QCoreApplication::sendPostedEvents();
        const auto end = std::chrono::steady_clock::now();
        if (i >= 0)
            samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    // Without the recorder nothing writes the history, so its name is only checked with it.
    if (!manager.currentStatus() ||
        (withHistory && store.profiles().at(50).name != QLatin1StringView("Head office")))
        return {-1, -1};
    return {quantile(samples, 0.5), quantile(samples, 0.99)};
}

struct GrowthFigures {
    qint64 rssAt10kKiB = -1;
    qint64 rssAtEndKiB = -1;
    int polls = 0;
    double seconds = 0;
};

// Status polls back to back through the real client and bus to the reference helper, with the
// gateway started so that every answer is the full status JSON.
GrowthFigures measureGrowth(const Settings& settings) {
    GrowthFigures figures;
    Surroundings surroundings;
    if (!surroundings.ready() || !surroundings.startHelper(0))
        return figures;
    DBusHelperClient client(surroundings.systemBus().address());
    GatewayManager manager(client);
    manager.startStatusPolling(3600);
    manager.setNetworkID(QStringLiteral("8056c2e21c000001"));
    manager.startGateway();
    QElapsedTimer clock;
    clock.start();
    while (!manager.isRunning() && clock.elapsed() < 20000) {
        manager.applyNatSetting(); // a status request after each answer
        QTest::qWait(100);
    }
    if (!manager.isRunning())
        return figures;

    // Each applied answer asks for the next one, by firing the controller's own polling timer.
    auto* timer = manager.findChild<QTimer*>(QStringLiteral("statusPollTimer"));
    const QMetaMethod timeout = QMetaMethod::fromSignal(&QTimer::timeout);
    int applied = 0;
    bool failed = false;
    QEventLoop loop;
    QObject::connect(&manager, &GatewayManager::currentStatusChanged, &loop, [&] {
        if (!manager.currentStatus())
            failed = true;
        ++applied;
        if (applied == 10000)
            figures.rssAt10kKiB = rssKiB(QCoreApplication::applicationPid());
        if (applied >= settings.polls || failed) {
            loop.quit();
            return;
        }
        timeout.invoke(timer, Qt::QueuedConnection);
    });
    clock.restart();
    timeout.invoke(timer, Qt::QueuedConnection);
    loop.exec();
    figures.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    figures.polls = failed ? -applied : applied;
    figures.rssAtEndKiB = rssKiB(QCoreApplication::applicationPid());
    return figures;
}

void printRow(const char* name, const QString& value, const char* target) {
    std::printf("%-58s %18s %12s\n", name, value.toUtf8().constData(), target);
}

QString number(double value, int decimals = 1) {
    return value < 0 ? QStringLiteral("n/a") : QString::number(value, 'f', decimals);
}

QString ratio(double ours, double baseline) {
    return ours < 0 || baseline <= 0 ? QStringLiteral("n/a")
                                     : QString::number(ours / baseline, 'f', 2) + QLatin1Char('x');
}

} // namespace

int main(int argc, char* argv[]) {
    // The measured windows are other processes; this one needs only an event loop.
    QCoreApplication application(argc, argv);
    Settings settings;
    if (QCoreApplication::arguments().contains(QStringLiteral("--quick"))) {
        settings = Settings{3, 5, 3, 20000, 500};
    }
    const bool windowsOnly =
        QCoreApplication::arguments().contains(QStringLiteral("--windows-only"));
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "fernpoint-perf needs an X display (scripts/perf.sh provides one)\n");
        return 2;
    }

    Surroundings surroundings;
    if (!surroundings.ready() || !surroundings.startHelper(1500)) {
        std::fprintf(stderr, "fernpoint-perf: private buses or the reference helper failed\n");
        return 1;
    }
    std::fprintf(stderr, "measuring the baseline window...\n");
    const WindowFigures minimal =
        measureWindow(QStringLiteral(FERNPOINT_MINIMAL_PATH), surroundings, settings, "minimal");
    std::fprintf(stderr, "measuring FernPoint...\n");
    // FERNPOINT_PERF_APP measures another build of the application (an earlier one, to compare).
    const QString appPath = qEnvironmentVariableIsEmpty("FERNPOINT_PERF_APP")
                                ? QStringLiteral(FERNPOINT_APP_PATH)
                                : qEnvironmentVariable("FERNPOINT_PERF_APP");
    const WindowFigures app = measureWindow(appPath, surroundings, settings, "fernpoint");
    surroundings.stopHelper();
    std::pair<double, double> cycle{-1, -1};
    std::pair<double, double> apply{-1, -1};
    GrowthFigures growth;
    if (!windowsOnly) {
        std::fprintf(stderr, "timing the poll cycle...\n");
        cycle = measurePollCycle(settings, true);
        apply = measurePollCycle(settings, false);
        std::fprintf(stderr, "driving %d polls through the bus...\n", settings.polls);
        growth = measureGrowth(settings);
    }
    const auto [cycleP50, cycleP99] = cycle;
    const auto [applyP50, applyP99] = apply;

    std::printf("\n%-58s %18s %12s\n", "measure", "value", "target");
    printRow("start to first frame, minimal window (ms, median)", number(minimal.firstFrameMs),
             "-");
    printRow("start to first frame, FernPoint (ms, median)", number(app.firstFrameMs), "-");
    printRow("  FernPoint / minimal", ratio(app.firstFrameMs, minimal.firstFrameMs), "<= 1.5x");
    printRow("RSS, window shown 3 s, minimal (KiB)", number(minimal.rssShownKiB, 0), "-");
    printRow("RSS, window shown 3 s, FernPoint (KiB)", number(app.rssShownKiB, 0), "-");
    printRow("  FernPoint / minimal", ratio(app.rssShownKiB, minimal.rssShownKiB), "<= 1.4x");
    printRow("RSS, window hidden, minimal (KiB)", number(minimal.rssHiddenKiB, 0), "-");
    printRow("RSS, window hidden, FernPoint (KiB)", number(app.rssHiddenKiB, 0), "-");
    printRow("  FernPoint / minimal", ratio(app.rssHiddenKiB, minimal.rssHiddenKiB), "<= 1.4x");
    printRow("main-thread wake-ups/s, shown, minimal", number(minimal.wakeupsShown, 2), "-");
    printRow("main-thread wake-ups/s, shown, FernPoint", number(app.wakeupsShown, 2), "<= 0.25");
    printRow("main-thread wake-ups/s, hidden, minimal", number(minimal.wakeupsHidden, 2), "-");
    printRow("main-thread wake-ups/s, hidden, FernPoint", number(app.wakeupsHidden, 2), "<= 0.25");
    printRow("poll cycle on the main thread, p50 (us)", number(cycleP50), "-");
    printRow("poll cycle on the main thread, p99 (us)", number(cycleP99), "< 1000");
    printRow("  of which parse + apply only, p50 (us)", number(applyP50), "-");
    printRow("  of which parse + apply only, p99 (us)", number(applyP99), "-");
    printRow("polls through the bus (count)", QString::number(growth.polls), "-");
    printRow("  polls per second", number(growth.seconds > 0 ? growth.polls / growth.seconds : -1),
             "-");
    printRow("  RSS after 10,000 polls (KiB)", number(static_cast<double>(growth.rssAt10kKiB), 0),
             "-");
    printRow("  RSS at the end (KiB)", number(static_cast<double>(growth.rssAtEndKiB), 0), "-");
    printRow("  growth from 10,000 to the end (KiB)",
             growth.rssAt10kKiB < 0 || growth.rssAtEndKiB < 0
                 ? QStringLiteral("n/a")
                 : QString::number(growth.rssAtEndKiB - growth.rssAt10kKiB),
             "< 2048");
    return 0;
}
