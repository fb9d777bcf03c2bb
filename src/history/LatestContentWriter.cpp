#include "LatestContentWriter.h"

#include <pthread.h>
#include <sched.h>

namespace fernpoint {

LatestContentWriter::LatestContentWriter(Save save)
    : m_save(std::move(save))
    , m_thread([this] { run(); }) {}

LatestContentWriter::~LatestContentWriter() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void LatestContentWriter::write(QByteArray content) {
    {
        const std::lock_guard lock(m_mutex);
        m_waiting = std::move(content);
    }
    m_changed.notify_all();
}

void LatestContentWriter::flush() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_waiting && !m_saving; });
}

void LatestContentWriter::run() {
    pthread_setname_np(pthread_self(), "content writer");
#ifdef SCHED_BATCH
    // Never preempts the thread that hands it content when it wakes (it waits for its turn), yet
    // keeps its fair share of the processor: a busy machine delays the file but cannot starve it.
    const sched_param parameter{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &parameter);
#endif
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_waiting || m_stopping; });
        if (!m_waiting)
            return; // stopping, and nothing left to save
        const QByteArray content = std::move(*m_waiting);
        m_waiting.reset();
        m_saving = true;
        lock.unlock();
        m_save(content);
        lock.lock();
        m_saving = false;
        m_changed.notify_all();
    }
}

} // namespace fernpoint
