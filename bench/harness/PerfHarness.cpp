// fernpoint-perf: the figures of scripts/perf.sh. It starts FernPoint and the baseline window as
// real processes on an X display (Xvfb under scripts/perf.sh), with private buses, a temporary
// home and the reference helper, and measures start-up, memory and idle wake-ups; then it times
// one poll cycle in process and drives 250,000 polls through the real bus client.
//
// Every row states its target, the floor it is measured against and PASS or MISS. Window figures
// are medians over several launches and runs, with the minimal window measured through the same
// seconds, so that a noisy machine moves both alike.
//
//   fernpoint-perf [--quick] [--connected] [--windows-only | --polls-only]
//                  [--compare-app <fernpoint> [--compare-harness <fernpoint-perf>]]
//     --quick: fewer runs and shorter windows, for a smoke check
//     --windows-only: only the start-up, memory and wake-up figures (no poll cycle, no polls)
//     --polls-only: only the poll cycle and the polls, as "key value" lines
//     --connected: the windows run with the gateway connected, recording its network in the
//       history on every status poll (by default the gateway is stopped and nothing is recorded)
//     --compare-app: measures that build of the application too, side by side in the same run;
//       with --compare-harness, that build's harness adds its poll figures (--polls-only)

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
#include <QFileInfo>
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
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

using namespace fernpoint;
using fernpoint::test::PrivateBus;
using fernpoint::test::TemporaryHome;

namespace {

struct Settings {
    int startupRuns = 11; // launches of each program
    int idleRuns = 5;     // runs of the memory and wake-up figures
    int idleSeconds = 30;
    int settleSeconds = 5; // after the memory sample, and after hiding
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

// Context switches of the main thread (its task ID is the process ID). A voluntary one is the
// thread going to sleep, so each is followed by one wake-up; an involuntary one is the thread
// preempted while it runs (on a busy machine, or by a thread it has just woken), which is no
// wake-up, but the earlier harness counted both, so both are kept.
struct Switches {
    qint64 voluntary = -1;
    qint64 all = -1;
};

Switches mainThreadSwitches(qint64 pid) {
    const QString path = QStringLiteral("/proc/%1/task/%1/status").arg(pid);
    const qint64 voluntary = statusField(path, "voluntary_ctxt_switches");
    const qint64 involuntary = statusField(path, "nonvoluntary_ctxt_switches");
    if (voluntary < 0 || involuntary < 0)
        return {};
    return {voluntary, voluntary + involuntary};
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

    // The gateway running on `networkID`, which the history holds as its one entry: the launched
    // application opens with it in the field and records it on every status poll, as it does for
    // a user who is connected.
    bool connect(const QString& networkID) {
        QDir().mkpath(m_home.dataHome() + QStringLiteral("/FernPoint"));
        QFile history(m_home.dataHome() + QStringLiteral("/FernPoint/networks.json"));
        if (!history.open(QIODevice::WriteOnly) ||
            history.write(QStringLiteral(R"([{"desc":"","lastUsedAt":738000000,"name":"",)"
                                         R"("networkID":"%1"}])")
                              .arg(networkID)
                              .toUtf8()) < 0)
            return false;
        history.close();
        DBusHelperClient client(m_systemBus.address());
        std::optional<bool> started;
        client.startGateway(networkID, false, [&started](const HelperResult<Nothing>& result) {
            started = result.isSuccess();
        });
        if (!QTest::qWaitFor([&started] { return started.has_value(); }, 20000) || !*started)
            return false;
        // The core passes through its starting steps before it reports a connection.
        QTest::qWait(8000);
        return true;
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
        environment.insert(QStringLiteral("LD_PRELOAD"),
                           QStringLiteral(FERNPOINT_FIRST_FRAME_HOOK));
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

// One measured program and its samples: the start-up times of its launches, and one figure per
// run for the rest.
struct Measured {
    explicit Measured(QString program)
        : path(std::move(program)) {}

    QString path;
    std::vector<double> firstFrameMs, rssShownKiB, rssHiddenKiB, wakeupsShown, wakeupsHidden;
    std::vector<double> switchesShown, switchesHidden; // with preemptions
};

// Waits in the harness's own event loop (it keeps the buses' clients served).
void sleepSeconds(double seconds) {
    QTest::qWait(static_cast<int>(seconds * 1000));
}

// Launches each program in turn, time after time, rotating which goes first, so that a busy
// moment of the machine falls on all of them alike.
void measureStartUp(const std::vector<Measured*>& programs, const Surroundings& surroundings,
                    int launches) {
    for (int round = 0; round < launches; ++round) {
        for (std::size_t k = 0; k < programs.size(); ++k) {
            Measured& program = *programs[(static_cast<std::size_t>(round) + k) % programs.size()];
            Launched launched(program.path, surroundings.environment());
            if (const std::optional<double> ms = launched.waitForFirstFrame())
                program.firstFrameMs.push_back(*ms);
            else
                std::fprintf(stderr, "%s: no first frame\n", qPrintable(program.path));
        }
    }
}

// Wake-ups (and all switches) per second of each process's main thread over the same seconds.
std::vector<std::pair<double, double>> wakeupsPerSecond(const std::vector<qint64>& pids,
                                                        int seconds) {
    std::vector<Switches> before;
    for (const qint64 pid : pids)
        before.push_back(mainThreadSwitches(pid));
    sleepSeconds(seconds);
    std::vector<std::pair<double, double>> rates;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const Switches after = mainThreadSwitches(pids[i]);
        if (before[i].all < 0 || after.all < 0)
            rates.emplace_back(-1, -1);
        else
            rates.emplace_back(static_cast<double>(after.voluntary - before[i].voluntary) / seconds,
                               static_cast<double>(after.all - before[i].all) / seconds);
    }
    return rates;
}

// One run of the memory and wake-up figures, for programs that run side by side through the same
// seconds: each window shown but not focused, its memory 3 s after the last one appeared, its
// wake-ups once the first status poll (5 s after start) has come and gone; then each closed
// (hidden, the process lives on) and, after a pause, idle again.
void measureIdleTogether(const std::vector<Measured*>& programs, const Surroundings& surroundings,
                         const Settings& settings) {
    std::vector<std::unique_ptr<Launched>> launched;
    std::vector<qint64> pids;
    for (Measured* program : programs) {
        launched.push_back(std::make_unique<Launched>(program->path, surroundings.environment()));
        if (!launched.back()->waitForFirstFrame()) {
            std::fprintf(stderr, "%s: no first frame\n", qPrintable(program->path));
            return;
        }
        pids.push_back(launched.back()->pid());
    }
    unfocusAll();
    sleepSeconds(3);
    for (std::size_t i = 0; i < programs.size(); ++i)
        programs[i]->rssShownKiB.push_back(static_cast<double>(rssKiB(pids[i])));
    sleepSeconds(settings.settleSeconds);
    const auto shown = wakeupsPerSecond(pids, settings.idleSeconds);
    for (std::size_t i = 0; i < programs.size(); ++i) {
        programs[i]->wakeupsShown.push_back(shown[i].first);
        programs[i]->switchesShown.push_back(shown[i].second);
        if (closeWindowsOf(pids[i]) != 1) {
            std::fprintf(stderr, "%s: could not find its window to close\n",
                         qPrintable(programs[i]->path));
            return;
        }
    }
    sleepSeconds(settings.settleSeconds);
    for (std::size_t i = 0; i < programs.size(); ++i)
        programs[i]->rssHiddenKiB.push_back(
            launched[i]->running() ? static_cast<double>(rssKiB(pids[i])) : -1);
    const auto hidden = wakeupsPerSecond(pids, settings.idleSeconds);
    for (std::size_t i = 0; i < programs.size(); ++i) {
        programs[i]->wakeupsHidden.push_back(hidden[i].first);
        programs[i]->switchesHidden.push_back(hidden[i].second);
        std::fprintf(stderr,
                     "  %s: RSS shown %.0f KiB, hidden %.0f KiB; wake-ups/s shown %.2f, "
                     "hidden %.2f (with preemptions %.2f, %.2f)\n",
                     qPrintable(QFileInfo(programs[i]->path).fileName()),
                     programs[i]->rssShownKiB.back(), programs[i]->rssHiddenKiB.back(),
                     shown[i].first, hidden[i].first, shown[i].second, hidden[i].second);
    }
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

// The in-process figures: the poll cycle and the memory over many polls.
struct PollFigures {
    double cycleP50 = -1, cycleP99 = -1, applyP50 = -1, applyP99 = -1;
    double polls = -1, pollsPerSecond = -1, growthKiB = -1;
};

PollFigures measurePolls(const Settings& settings) {
    PollFigures figures;
    std::tie(figures.cycleP50, figures.cycleP99) = measurePollCycle(settings, true);
    std::tie(figures.applyP50, figures.applyP99) = measurePollCycle(settings, false);
    std::fprintf(stderr, "driving %d polls through the bus...\n", settings.polls);
    const GrowthFigures growth = measureGrowth(settings);
    figures.polls = growth.polls;
    if (growth.seconds > 0)
        figures.pollsPerSecond = growth.polls / growth.seconds;
    if (growth.rssAt10kKiB >= 0 && growth.rssAtEndKiB >= 0)
        figures.growthKiB = static_cast<double>(growth.rssAtEndKiB - growth.rssAt10kKiB);
    return figures;
}

// --polls-only prints the in-process figures in this form, for another build's harness to read.
const std::pair<const char*, double PollFigures::*> kPollKeys[] = {
    {"cycle-p50", &PollFigures::cycleP50},  {"cycle-p99", &PollFigures::cycleP99},
    {"apply-p50", &PollFigures::applyP50},  {"apply-p99", &PollFigures::applyP99},
    {"polls", &PollFigures::polls},         {"polls-per-second", &PollFigures::pollsPerSecond},
    {"growth-kib", &PollFigures::growthKiB}};

void printPollKeys(const PollFigures& figures) {
    for (const auto& [key, member] : kPollKeys)
        std::printf("%s %f\n", key, figures.*member);
}

// The in-process figures of another build, from its own harness; all n/a when it has none or an
// older one, which does not know --polls-only and would measure everything (a harness that knows
// it carries the keys above).
PollFigures pollsOfOtherBuild(const QString& harness) {
    PollFigures figures;
    QFile binary(harness);
    if (harness.isEmpty() || !binary.open(QIODevice::ReadOnly) ||
        !binary.readAll().contains(kPollKeys[1].first))
        return figures;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--polls-only")};
    if (QCoreApplication::arguments().contains(QStringLiteral("--quick")))
        arguments.append(QStringLiteral("--quick"));
    process.start(harness, arguments);
    process.waitForFinished(-1);
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        for (const auto& [key, member] : kPollKeys) {
            if (parts.size() == 2 && parts.at(0) == key)
                figures.*member = parts.at(1).toDouble();
        }
    }
    return figures;
}

QString number(double value, int decimals = 1) {
    return value < 0 ? QStringLiteral("n/a") : QString::number(value, 'f', decimals);
}

// The table: a figure per build, the floor it is measured against, the target, and PASS or MISS
// per build (n/a where a figure is missing); rows without a target only inform.
enum class Verdict { Pass, Miss, Missing };

Verdict verdict(double value, bool met) {
    return value < 0 ? Verdict::Missing : met ? Verdict::Pass : Verdict::Miss;
}

void printRow(const QString& name, const QStringList& values, const QString& floor,
              const QString& target, const std::vector<Verdict>& verdicts = {}) {
    QString line = QStringLiteral("%1").arg(name, -50);
    for (const QString& value : values)
        line += QStringLiteral(" %1").arg(value, 16);
    line += QStringLiteral("  %1 %2").arg(floor, -26).arg(target, -9);
    for (const Verdict v : verdicts)
        line += v == Verdict::Pass   ? QStringLiteral(" PASS")
                : v == Verdict::Miss ? QStringLiteral(" MISS")
                                     : QStringLiteral(" n/a ");
    std::printf("%s\n", qPrintable(line));
}

} // namespace

int main(int argc, char* argv[]) {
    // The measured windows are other processes; this one needs only an event loop.
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    Settings settings;
    if (arguments.contains(QStringLiteral("--quick")))
        settings = Settings{3, 1, 5, 2, 20000, 500};
    if (arguments.contains(QStringLiteral("--polls-only"))) {
        printPollKeys(measurePolls(settings));
        return 0;
    }
    const bool windowsOnly = arguments.contains(QStringLiteral("--windows-only"));
    const bool connected = arguments.contains(QStringLiteral("--connected"));
    const qsizetype compareAt = arguments.indexOf(QStringLiteral("--compare-app"));
    const qsizetype harnessAt = arguments.indexOf(QStringLiteral("--compare-harness"));
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "fernpoint-perf needs an X display (scripts/perf.sh provides one)\n");
        return 2;
    }

    Measured minimal(QStringLiteral(FERNPOINT_MINIMAL_PATH));
    std::vector<Measured> builds{Measured(QStringLiteral(FERNPOINT_APP_PATH))};
    if (compareAt > 0 && compareAt + 1 < arguments.size())
        builds.emplace_back(arguments.at(compareAt + 1));

    std::vector<Measured*> all{&minimal};
    for (Measured& build : builds)
        all.push_back(&build);
    {
        Surroundings surroundings;
        if (!surroundings.ready() || !surroundings.startHelper(1500) ||
            (connected && !surroundings.connect(QStringLiteral("8056c2e21c000001")))) {
            std::fprintf(stderr, "fernpoint-perf: private buses or the reference helper failed\n");
            return 1;
        }
        std::fprintf(stderr, "start-up: %d launches of each program...\n", settings.startupRuns);
        measureStartUp(all, surroundings, settings.startupRuns);
        // Two builds of the application cannot run at once (one instance per user): each runs
        // beside the minimal window in a run of its own.
        for (int run = 0; run < settings.idleRuns; ++run) {
            for (Measured& build : builds) {
                std::fprintf(stderr, "memory and wake-ups, run %d of %d...\n", run + 1,
                             settings.idleRuns);
                measureIdleTogether({&minimal, &build}, surroundings, settings);
            }
        }
    }
    std::vector<PollFigures> polls(builds.size());
    if (!windowsOnly) {
        std::fprintf(stderr, "timing the poll cycle...\n");
        polls[0] = measurePolls(settings);
        if (builds.size() > 1 && harnessAt > 0 && harnessAt + 1 < arguments.size()) {
            std::fprintf(stderr, "the same with the compared build's harness...\n");
            polls[1] = pollsOfOtherBuild(arguments.at(harnessAt + 1));
        }
    }

    QStringList names{QStringLiteral("this")};
    if (builds.size() > 1) {
        names.append(QStringLiteral("cmp"));
        std::printf("\nthis: %s\ncmp:  %s\n", qPrintable(builds[0].path),
                    qPrintable(builds[1].path));
    }
    std::printf("\nthe gateway is %s\n", connected ? "connected, and the history saved on every "
                                                     "poll"
                                                   : "stopped, and no history saved");
    std::printf("\nmedians: start-up of %d launches each, the rest of %d runs each; the minimal "
                "window runs beside FernPoint through the same seconds\n",
                settings.startupRuns, settings.idleRuns);
    for (const Measured* program : all) {
        QStringList samples;
        for (const double ms : program->firstFrameMs)
            samples.append(number(ms));
        std::fprintf(stderr, "start-up of %s (ms): %s\n",
                     qPrintable(QFileInfo(program->path).fileName()),
                     qPrintable(samples.join(QLatin1Char(' '))));
    }
    std::printf("\n");
    printRow(QStringLiteral("measure"), names, QStringLiteral("floor"), QStringLiteral("target"));

    // A figure against the minimal window: the build's median and its ratio to the window's.
    const auto ratioRow = [&](const QString& name, std::vector<double> Measured::*samples,
                              int decimals, double target) {
        const double floor = median(minimal.*samples);
        QStringList values;
        std::vector<Verdict> verdicts;
        for (const Measured& build : builds) {
            const double ours = median(build.*samples);
            const double ratio = ours < 0 || floor <= 0 ? -1 : ours / floor;
            values.append(number(ours, decimals) + QStringLiteral(" (") + number(ratio, 2) +
                          QStringLiteral("x)"));
            verdicts.push_back(verdict(ratio, ratio <= target));
        }
        printRow(name, values, number(floor, decimals) + QStringLiteral(" minimal window"),
                 QStringLiteral("<= %1x").arg(target, 0, 'f', 2), verdicts);
    };
    // Wake-ups against the poll's floor: one timer and one reply per 5 s.
    const auto wakeupRow = [&](const QString& name, std::vector<double> Measured::*samples,
                               double target) {
        QStringList values;
        std::vector<Verdict> verdicts;
        for (const Measured& build : builds) {
            const double rate = median(build.*samples);
            values.append(number(rate, 2));
            if (target > 0)
                verdicts.push_back(verdict(rate, rate <= target));
        }
        printRow(name, values,
                 QStringLiteral("0.40 poll (minimal %1)").arg(number(median(minimal.*samples), 2)),
                 target > 0 ? QStringLiteral("<= %1").arg(target, 0, 'f', 2) : QString(), verdicts);
    };
    const auto pollRow = [&](const QString& name, double PollFigures::*figure, int decimals,
                             const QString& floor, double below) {
        QStringList values;
        std::vector<Verdict> verdicts;
        for (const PollFigures& build : polls) {
            values.append(number(build.*figure, decimals));
            if (below > 0)
                verdicts.push_back(verdict(build.*figure, build.*figure < below));
        }
        printRow(name, values, floor, below > 0 ? QStringLiteral("< %1").arg(below) : QString(),
                 verdicts);
    };

    ratioRow(QStringLiteral("start to first frame (ms)"), &Measured::firstFrameMs, 1, 1.15);
    ratioRow(QStringLiteral("RSS, window shown 3 s (KiB)"), &Measured::rssShownKiB, 0, 1.20);
    ratioRow(QStringLiteral("RSS, window hidden (KiB)"), &Measured::rssHiddenKiB, 0, 1.20);
    wakeupRow(QStringLiteral("main-thread wake-ups/s, hidden"), &Measured::wakeupsHidden, 0.41);
    wakeupRow(QStringLiteral("main-thread wake-ups/s, shown, field not focused"),
              &Measured::wakeupsShown, 0.45);
    wakeupRow(QStringLiteral("  switches/s with preemptions, hidden"), &Measured::switchesHidden,
              -1);
    wakeupRow(QStringLiteral("  switches/s with preemptions, shown"), &Measured::switchesShown, -1);
    if (windowsOnly)
        return 0;
    QStringList applyP99;
    for (const PollFigures& build : polls)
        applyP99.append(number(build.applyP99));
    pollRow(QStringLiteral("poll cycle on the main thread, p99 (us)"), &PollFigures::cycleP99, 1,
            applyP99.join(QLatin1Char('/')) + QStringLiteral(" parse+apply"), 200);
    pollRow(QStringLiteral("  p50 (us)"), &PollFigures::cycleP50, 1, QString(), 0);
    pollRow(QStringLiteral("  parse + apply only, p50 (us)"), &PollFigures::applyP50, 1, QString(),
            0);
    pollRow(QStringLiteral("RSS growth over %1 polls (KiB)").arg(settings.polls),
            &PollFigures::growthKiB, 0, QStringLiteral("0"), 2048);
    pollRow(QStringLiteral("  polls per second"), &PollFigures::pollsPerSecond, 0, QString(), 0);
    return 0;
}
