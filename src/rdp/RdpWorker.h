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
    void doWork(RdpWorkerTask task);
};

// Owns the worker thread of one connection. Emitting doWork posts a task;
// its result comes back as finished() on the owner's thread. The
// destructor ends the thread and waits for the task in flight.
class RdpWorkerThread : public QObject
{
    Q_OBJECT

public:
    explicit RdpWorkerThread(QObject* parent = nullptr);
    ~RdpWorkerThread() override;

signals:
    void doWork(RdpWorkerTask task);
    void finished(QVariant result);

private:
    QThread* m_thread;
};
