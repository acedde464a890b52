#include "core/async/ThreadPost.h"

#include <QObject>
#include <QThread>

#include <mutex>

struct ThreadPost::Box
{
    std::mutex mutex;
    // Null once closed. Deleted by the owner, after it has nulled this under the lock.
    QObject *receiver = nullptr;
    // Set while posted work runs, so that work which closes its own box does not delete the
    // receiver inside the receiver's own event.
    bool running = false;
};

ThreadPost::ThreadPost(QThread *thread) : m_box(std::make_shared<Box>())
{
    auto *receiver = new QObject;
    if (thread && thread != QThread::currentThread())
        receiver->moveToThread(thread);
    m_box->receiver = receiver;
}

ThreadPost::~ThreadPost()
{
    close();
}

void ThreadPost::close()
{
    QObject *receiver = nullptr;
    bool running = false;
    {
        std::lock_guard lock(m_box->mutex);
        receiver = std::exchange(m_box->receiver, nullptr);
        running = m_box->running;
    }
    if (!receiver)
        return;
    // Deleting the receiver removes the events posted to it; on another thread, or from inside its
    // own event, it has to go through its event loop instead.
    if (running || receiver->thread() != QThread::currentThread())
        receiver->deleteLater();
    else
        delete receiver;
}

bool ThreadPost::Sender::post(std::function<void()> work) const
{
    if (!m_box)
        return false;
    std::lock_guard lock(m_box->mutex);
    if (!m_box->receiver)
        return false;
    QMetaObject::invokeMethod(
        m_box->receiver,
        [box = m_box, work = std::move(work)] {
            {
                std::lock_guard lock(box->mutex);
                if (!box->receiver)
                    return;
                box->running = true;
            }
            work();
            std::lock_guard lock(box->mutex);
            box->running = false;
        },
        Qt::QueuedConnection);
    return true;
}
