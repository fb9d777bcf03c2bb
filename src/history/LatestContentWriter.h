#pragma once

#include <QByteArray>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace fernpoint {

// Hands content to a thread of its own, which passes it to a blocking save function one piece at
// a time. Only the newest content matters: what is handed over while a save runs replaces
// whatever was still waiting, so a slow disk delays the file but never piles up work or stalls the
// thread that hands content over.
class LatestContentWriter final {
public:
    using Save = std::function<void(const QByteArray& content)>;

    explicit LatestContentWriter(Save save);
    // Saves what is still waiting, then ends the thread.
    ~LatestContentWriter();
    LatestContentWriter(const LatestContentWriter&) = delete;
    LatestContentWriter& operator=(const LatestContentWriter&) = delete;

    void write(QByteArray content);
    // Returns once everything handed over so far has been through the save function.
    void flush();

private:
    void run();

    Save m_save;
    // Standard primitives rather than Qt's, so that the thread sanitizer sees every hand-over and
    // the thread's end.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<QByteArray> m_waiting;
    bool m_saving = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace fernpoint
