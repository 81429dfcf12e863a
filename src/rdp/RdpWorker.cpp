#include "RdpWorker.h"

#include <common/handover.h>

#include <QThread>

void RdpWorker::doWork(const RdpWorkerTask& task)
{
    Q_ASSERT(task);
    HandOver::acquire(this);
    const QVariant result = task();
    HandOver::post(this, [&] { emit workIsDone(result); });
}

RdpWorkerThread::RdpWorkerThread(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_worker(new RdpWorker)
{
    qRegisterMetaType<RdpWorkerTask>("RdpWorkerTask");
    m_worker->moveToThread(m_thread);
    connect(this, &RdpWorkerThread::doWork, m_worker, &RdpWorker::doWork);
    connect(m_worker, &RdpWorker::workIsDone, this, [this](const QVariant& result) {
        HandOver::acquire(m_worker);
        emit finished(result);
    });
    // Whatever the thread did last happens before the wait below returns.
    connect(m_thread, &QThread::finished, m_thread, [this] { HandOver::post(m_thread, [] {}); },
            Qt::DirectConnection);
    m_thread->start(QThread::InheritPriority);
}

RdpWorkerThread::~RdpWorkerThread()
{
    m_thread->quit();
    m_thread->wait();
    HandOver::acquire(m_thread);
    // Deleted here, after its thread ended, together with the calls still
    // queued for it.
    delete m_worker;
}

void RdpWorkerThread::post(const RdpWorkerTask& task)
{
    HandOver::post(m_worker, [&] { emit doWork(task); });
}
