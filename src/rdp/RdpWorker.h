#pragma once

#include <QObject>
#include <QVariant>

#include <functional>

class QThread;

// A blocking library call bound to its arguments, run on the worker thread.
using RdpWorkerTask = std::function<QVariant()>;
Q_DECLARE_METATYPE(RdpWorkerTask)

// Lives on the worker thread and runs one task per doWork call.
class RdpWorker : public QObject
{
    Q_OBJECT

signals:
    void workIsDone(QVariant result);

public slots:
    void doWork(const RdpWorkerTask& task);
};

// Owns the worker thread of one connection. post runs a task there; its
// result comes back as finished() on the owner's thread. The destructor
// ends the thread and waits for the task in flight.
class RdpWorkerThread : public QObject
{
    Q_OBJECT

public:
    explicit RdpWorkerThread(QObject* parent = nullptr);
    ~RdpWorkerThread() override;

    void post(const RdpWorkerTask& task);

signals:
    void doWork(const RdpWorkerTask& task);
    void finished(QVariant result);

private:
    QThread* m_thread;
    RdpWorker* m_worker;
};
