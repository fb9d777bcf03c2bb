#include "AfterFirstFrame.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace fernpoint {
namespace {

class FirstPaintWatcher final : public QObject {
public:
    FirstPaintWatcher(QWidget& window, std::function<void()> work)
        : QObject(&window)
        , m_work(std::move(work)) {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // The window and its children are painted and the frame is flushed in one go, before
            // the event loop runs again.
            QTimer::singleShot(0, this, [this] {
                m_work();
                deleteLater();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_work;
};

} // namespace

void runAfterFirstFrame(QWidget& window, std::function<void()> work) {
    new FirstPaintWatcher(window, std::move(work));
}

} // namespace fernpoint
