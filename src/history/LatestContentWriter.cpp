#include "LatestContentWriter.h"

#include <QThread>

namespace fernpoint {

LatestContentWriter::LatestContentWriter(Save save)
    : m_save(std::move(save))
    , m_thread(QThread::create([this] { run(); })) {
    m_thread->setObjectName(QStringLiteral("content writer"));
    m_thread->start();
}

LatestContentWriter::~LatestContentWriter() {
    {
        const QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_changed.wakeAll();
    }
    m_thread->wait();
}

void LatestContentWriter::write(QByteArray content) {
    const QMutexLocker lock(&m_mutex);
    m_waiting = std::move(content);
    m_changed.wakeAll();
}

void LatestContentWriter::flush() {
    QMutexLocker lock(&m_mutex);
    while (m_waiting || m_saving)
        m_changed.wait(&m_mutex);
}

void LatestContentWriter::run() {
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (!m_waiting && !m_stopping)
            m_changed.wait(&m_mutex);
        if (!m_waiting)
            return; // stopping, and nothing left to save
        const QByteArray content = std::move(*m_waiting);
        m_waiting.reset();
        m_saving = true;
        lock.unlock();
        m_save(content);
        lock.relock();
        m_saving = false;
        m_changed.wakeAll();
    }
}

} // namespace fernpoint
