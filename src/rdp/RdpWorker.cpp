#include "RdpWorker.h"

#include <QThread>

void RdpWorker::doWork(RdpWorkerTask task)
{
    Q_ASSERT(task);
    emit workIsDone(task());
}

RdpWorkerThread::RdpWorkerThread(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread(this))
{
    qRegisterMetaType<RdpWorkerTask>("RdpWorkerTask");
    auto* worker = new RdpWorker;
    worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &RdpWorkerThread::doWork, worker, &RdpWorker::doWork);
    connect(worker, &RdpWorker::workIsDone, this, &RdpWorkerThread::finished);
    m_thread->start(QThread::InheritPriority);
}

RdpWorkerThread::~RdpWorkerThread()
{
    m_thread->quit();
    m_thread->wait();
}
