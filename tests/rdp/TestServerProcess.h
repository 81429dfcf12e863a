#pragma once

#include <QProcess>
#include <QTcpSocket>

#include <memory>

// Helpers shared by the fixtures that run a server for the display tests.
namespace TestServerProcess {

inline void end(std::unique_ptr<QProcess>& process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(10000);
    }
    process.reset();
}

inline bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(1000);
}

} // namespace TestServerProcess
