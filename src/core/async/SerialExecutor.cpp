#include "core/async/SerialExecutor.h"

SerialExecutor::SerialExecutor(const QString &name) : m_thread(new QThread), m_worker(new QObject)
{
    m_thread->setObjectName(name);
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

SerialExecutor::~SerialExecutor()
{
    // quit() is queued behind the work already posted, so that work still runs.
    QMetaObject::invokeMethod(m_worker, [thread = m_thread] { thread->quit(); }, Qt::QueuedConnection);
    m_thread->wait();
    delete m_thread;
}

void SerialExecutor::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_worker, std::move(work), Qt::QueuedConnection);
}
