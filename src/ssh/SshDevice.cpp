#include "SshDevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

#include "LoopbackListener.h"
#include "NottyProcess.h"
#include "SshLogging.h"

namespace {

const QString kAskpassVariable = QStringLiteral("TALVENE_ASKPASS_SERVER");

// Resolves name on the PATH the child will see, not on ours.
QString findProgram(const QString& name, const QProcessEnvironment& environment)
{
    const QString path = environment.value(QStringLiteral("PATH"));
    const QString found = QStandardPaths::findExecutable(name, path.split(QLatin1Char(':'), Qt::SkipEmptyParts));
    return found.isEmpty() ? name : found;
}

// ssh's own "Connecting to" lines are short; a longer line is somebody
// else's text and not worth a regular expression.
constexpr int DiagnosticLineLimit = 1024;

// How long a closed login may take to end by itself before it is terminated.
constexpr int GracefulEndMs = 5000;

// A process this device no longer owns deletes itself once it has ended; if the
// program quits first, it is killed rather than left running detached. It is
// handed to the application object so that one still running when the program
// ends is destroyed with it instead of leaking.
void releaseWhenFinished(QProcess* process)
{
    QCoreApplication* application = QCoreApplication::instance();
    process->setParent(application);
    QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process,
                     &QObject::deleteLater);
    if (application)
        QObject::connect(application, &QCoreApplication::aboutToQuit, process, &QProcess::kill);
}

// Tunnel ports chosen by the logins of this program whose ssh may not have
// bound them yet: a probe cannot see those, so two logins started together
// would otherwise both take the first free port.
QSet<quint16>& claimedTunnelPorts()
{
    static QSet<quint16> ports;
    return ports;
}

QString decodeUpToNul(QByteArray bytes)
{
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromLocal8Bit(bytes);
}

} // namespace

SshDevice::SshDevice(QObject* parent)
    : QIODevice(parent)
{
}

SshDevice::~SshDevice()
{
    // Nobody hears about an end caused by destruction.
    blockSignals(true);
    close();
}

void SshDevice::start(const QString& host, quint16 port, const QString& user, const QString& command, bool fips,
                      const QString& askpassServer)
{
    if (isOpen())
        return;
    m_host = host;
    m_port = port;
    m_user = user;
    m_command = command;
    m_fips = fips;
    m_askpassServer = askpassServer;
    m_realHost = host;
    m_tunnelPort = 0;
    m_lookupId = -1;
    m_connected = false;
    m_interactiveSeen = false;
    m_established = false;
    m_log.clear();
    m_logSize = 0;
    m_status = true;
    m_sshArguments.clear();
    setErrorString(QString());
    open(QIODevice::ReadWrite);
    if (m_user.isEmpty())
        startAskpass();
    else
        startSsh();
}

QString SshDevice::host() const { return m_host; }
quint16 SshDevice::port() const { return m_port; }
QString SshDevice::user() const { return m_user; }
QString SshDevice::command() const { return m_command; }
bool SshDevice::fips() const { return m_fips; }
QString SshDevice::askpassServer() const { return m_askpassServer; }
quint16 SshDevice::tunnelPort() const { return m_tunnelPort; }
QString SshDevice::realHost() const { return m_realHost; }
bool SshDevice::isConnected() const { return m_connected; }
bool SshDevice::status() const { return m_status; }
QStringList SshDevice::log() const { return m_log; }
QStringList SshDevice::sshArguments() const { return m_sshArguments; }

QProcessEnvironment SshDevice::childEnvironment(const QString& askpassServer, bool forSsh)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The askpass program lives beside this program, installed or not.
    const QString ownDirectory = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    const QString path = environment.value(QStringLiteral("PATH"));
    environment.insert(QStringLiteral("PATH"), path.isEmpty() ? ownDirectory : ownDirectory + QLatin1Char(':') + path);
    if (!forSsh) {
        environment.insert(kAskpassVariable, askpassServer);
        return environment;
    }
    if (!environment.contains(QStringLiteral("DISPLAY")))
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
    if (!environment.contains(QStringLiteral("SSH_ASKPASS"))) {
        environment.insert(QStringLiteral("SSH_ASKPASS"), QStringLiteral("askpass"));
        environment.insert(kAskpassVariable, askpassServer);
    }
    return environment;
}

void SshDevice::startAskpass()
{
    m_aproc = new QProcess(this);
    connect(m_aproc, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &SshDevice::on_AProc_finished);
    connect(m_aproc, &QProcess::errorOccurred, this, &SshDevice::on_AProc_error);
    const QProcessEnvironment environment = childEnvironment(m_askpassServer, false);
    m_aproc->setProcessEnvironment(environment);
    // The status dialog recognises this prompt by its words and asks with a
    // label of its own, so the prompt stays untranslated.
    m_aproc->start(findProgram(QStringLiteral("askpass"), environment),
                   {QStringLiteral("The user for \"%1\": ").arg(m_host)}, QIODevice::ReadWrite);
}

void SshDevice::on_AProc_finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    QProcess* process = m_aproc;
    m_aproc = nullptr;
    if (!process)
        return;
    process->deleteLater();
    if (exitStatus == QProcess::CrashExit) {
        setErrorString(tr("%1 crashed").arg(QStringLiteral("askpass")));
        end(false);
        return;
    }
    if (exitCode != 0) {
        end(false);
        return;
    }
    m_user = decodeUpToNul(process->readAllStandardOutput());
    startSsh();
}

void SshDevice::on_AProc_error(QProcess::ProcessError error)
{
    // A program that never started never finishes: end the run here.
    if (error != QProcess::FailedToStart || !m_aproc)
        return;
    m_aproc->deleteLater();
    m_aproc = nullptr;
    setErrorString(tr("%1 failed to start").arg(QStringLiteral("askpass")));
    end(false);
}

quint16 SshDevice::findFreePort(quint16 first, quint16 end)
{
    for (int port = first; port < end; ++port) {
        if (claimedTunnelPorts().contains(quint16(port)))
            continue;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (probe.waitForConnected(100)) {
            probe.abort();
            continue;
        }
        if (probe.error() == QAbstractSocket::ConnectionRefusedError)
            return quint16(port);
    }
    return 0;
}

void SshDevice::startSsh()
{
    m_tunnelPort = findFreePort(FirstTunnelPort, EndTunnelPort);
    if (m_tunnelPort == 0) {
        appendLog(tr("Failed to find an open port for tunneling"));
    } else {
        claimedTunnelPorts().insert(m_tunnelPort);
        m_portClaimed = true;
    }

    m_proc = new NottyProcess(this);
    connect(m_proc, &QProcess::bytesWritten, this, &QIODevice::bytesWritten);
    connect(m_proc, &QProcess::readyRead, this, &QIODevice::readyRead);
    connect(m_proc, &QProcess::errorOccurred, this, &SshDevice::on_Proc_error);
    connect(m_proc, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &SshDevice::on_Proc_finished);
    connect(m_proc, &QProcess::readyReadStandardError, this, &SshDevice::on_Proc_readyReadStandardError);

    const QProcessEnvironment environment = childEnvironment(m_askpassServer, true);
    m_proc->setProcessEnvironment(environment);

    QStringList arguments{QStringLiteral("-v")};
    if (m_port != 0)
        arguments << QStringLiteral("-p") << QString::number(m_port);
    if (m_tunnelPort != 0) {
        // Without its forward the login fails rather than running on: the
        // forward's port is what the displays trust.
        arguments << QStringLiteral("-D") << QString::number(m_tunnelPort) << QStringLiteral("-o")
                  << QStringLiteral("ExitOnForwardFailure=yes");
    }
    if (m_command.isEmpty())
        arguments << QStringLiteral("-N");
    arguments << QStringLiteral("-l") << m_user;
    // "--" keeps a host text that starts with "-" from being read as an option.
    arguments << QStringLiteral("--") << m_host;
    if (!m_command.isEmpty())
        arguments << m_command;
    m_sshArguments = arguments;
    qCDebug(lcSsh) << "Starting ssh" << arguments;

    m_proc->start(findProgram(QStringLiteral("ssh"), environment), arguments, QIODevice::ReadWrite);
    if (!isOpen())
        open(QIODevice::ReadWrite);
}

void SshDevice::appendLog(const QString& line)
{
    while (!m_log.isEmpty() && m_logSize + line.size() > LogLimit)
        m_logSize -= m_log.takeFirst().size();
    m_log.append(line);
    m_logSize += line.size();
}

void SshDevice::end(bool status)
{
    m_status = status;
    emit finished(status);
}

void SshDevice::on_Proc_readyReadStandardError()
{
    if (!m_proc)
        return;
    static const QRegularExpression connecting(QStringLiteral("^debug1: Connecting to .* \\[(.*)\\] port"));
    m_proc->setReadChannel(QProcess::StandardError);
    // Everything is read at once, even while a lookup is pending, so that
    // nothing piles up unread. The remote command's standard error arrives
    // here too: a peer that never ends its line must not make the pending
    // bytes grow without bound, so such text is taken in pieces of the log's
    // size.
    while (m_proc->canReadLine() || m_proc->bytesAvailable() >= LogLimit) {
        QString line = QString::fromLocal8Bit(m_proc->readLine(LogLimit + 1));
        // ssh ends its diagnostics with "\r\n"; keep neither in the log.
        if (line.endsWith(QLatin1Char('\n')))
            line.chop(line.endsWith(QLatin1String("\r\n")) ? 2 : 1);
        if (!m_established && line.size() <= DiagnosticLineLimit) {
            const QRegularExpressionMatch match = connecting.match(line);
            if (match.hasMatch()) {
                // Each address ssh tries replaces the one before.
                if (m_lookupId != -1)
                    QHostInfo::abortHostLookup(m_lookupId);
                m_lookupId = QHostInfo::lookupHost(match.captured(1), this, &SshDevice::RealHost_lookupFinished);
            } else if (line.startsWith(QLatin1String("debug1: Connection established."))) {
                m_established = true;
            }
        }
        if (line.contains(QLatin1String("Entering interactive session"))) {
            m_established = true;
            m_interactiveSeen = true;
        } else if (m_interactiveSeen && line.startsWith(QLatin1String("debug1: client_input_channel_req: "))
                   && (line.contains(QLatin1String(" rtype exit-status "))
                       || line.contains(QLatin1String(" rtype exit-signal ")))) {
            commandEnded();
        }
        appendLog(line);
    }
    m_proc->setReadChannel(QProcess::StandardOutput);
    reportConnected();
}

// connected() goes out once, after the real host is settled.
void SshDevice::reportConnected()
{
    if (!m_interactiveSeen || m_connected || m_lookupId != -1 || !m_proc)
        return;
    m_connected = true;
    emit connected();
}

void SshDevice::RealHost_lookupFinished(const QHostInfo& info)
{
    if (info.lookupId() != m_lookupId)
        return;
    if (info.error() == QHostInfo::NoError && !info.hostName().isEmpty())
        m_realHost = info.hostName();
    m_lookupId = -1;
    reportConnected();
}

bool SshDevice::checkTunnel(QString* error) const
{
    if (m_tunnelPort == 0) {
        *error = tr("No local port from %1 to %2 was free for the SSH tunnel. Close other connections and log in "
                    "again.")
                     .arg(FirstTunnelPort)
                     .arg(EndTunnelPort - 1);
        return false;
    }
    if (!m_proc || m_proc->state() != QProcess::Running) {
        *error = tr("The SSH connection has ended.");
        return false;
    }
    QString reason;
    if (!loopbackListenerOwnedBy(QHostAddress(QHostAddress::LocalHost), m_tunnelPort, m_proc->processId(), &reason)) {
        *error = tr("The SSH tunnel is not safe to use: %1").arg(reason);
        return false;
    }
    return true;
}

void SshDevice::on_Proc_error(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    qCWarning(lcSsh) << "ssh failed to start:" << (m_proc ? m_proc->errorString() : QString());
    setErrorString(tr("%1 failed to start").arg(QStringLiteral("ssh")));
    end(false);
}

void SshDevice::releaseTunnelPort()
{
    if (m_portClaimed)
        claimedTunnelPorts().remove(m_tunnelPort);
    m_portClaimed = false;
}

void SshDevice::commandEnded()
{
    // ssh outlives its command while a display still uses the forward, so a
    // command interface that died would leave the login open but mute. An
    // ssh that ends with its command has ended before this fires.
    QTimer::singleShot(GracefulEndMs, this, [this, process = QPointer<NottyProcess>(m_proc)]() {
        if (!process || process != m_proc || process->state() != QProcess::Running)
            return;
        qCWarning(lcSsh) << "the remote command ended, ssh did not";
        setErrorString(tr("The program \"%1\" on the server has ended.").arg(m_command));
        end(false);
    });
}

void SshDevice::on_Proc_finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    releaseTunnelPort();
    if (m_proc) {
        m_proc->setReadChannel(QProcess::StandardError);
        appendLog(QString::fromLocal8Bit(m_proc->readAll()));
        m_proc->setReadChannel(QProcess::StandardOutput);
    }
    m_connected = false;
    m_interactiveSeen = false;
    qCDebug(lcSsh) << "ssh ended" << exitStatus << exitCode;
    if (exitStatus == QProcess::CrashExit) {
        setErrorString(tr("%1 crashed").arg(QStringLiteral("ssh")));
        end(false);
    } else if (exitCode == 0) {
        end(true);
    } else {
        setErrorString(tr("%2 quit with error code %1").arg(exitCode).arg(QStringLiteral("ssh")));
        end(false);
    }
}

void SshDevice::close()
{
    if (!isOpen())
        return;
    QIODevice::close();
    m_status = true;
    // A port still bound by the ending ssh is seen by the probe from now on.
    releaseTunnelPort();
    // finished() goes out last: a receiver may destroy this device.
    bool ended = false;

    if (QProcess* process = m_aproc) {
        m_aproc = nullptr;
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning) {
            releaseWhenFinished(process);
            process->terminate();
            ended = true;
        } else {
            process->deleteLater();
        }
    }

    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }

    if (NottyProcess* process = m_proc) {
        m_proc = nullptr;
        process->disconnect(this);
        switch (process->state()) {
        case QProcess::Starting:
            releaseWhenFinished(process);
            process->terminate();
            ended = true;
            break;
        case QProcess::Running:
            releaseWhenFinished(process);
            // The command interface ends when its input does, and ssh with it;
            // a server that does not must not keep the login alive for ever.
            if (!m_command.isEmpty() && m_connected) {
                process->closeWriteChannel();
                QTimer::singleShot(GracefulEndMs, process, &QProcess::terminate);
            } else {
                process->terminate();
            }
            ended = true;
            break;
        case QProcess::NotRunning:
            process->deleteLater();
            break;
        }
    }
    m_connected = false;
    if (ended)
        emit finished(m_status);
}

bool SshDevice::atEnd() const
{
    if (!isOpen())
        return true;
    if (!m_proc)
        return false;
    return m_proc->atEnd() && QIODevice::atEnd();
}

qint64 SshDevice::bytesAvailable() const
{
    if (!isOpen() || !m_proc)
        return 0;
    return m_proc->bytesAvailable() + QIODevice::bytesAvailable();
}

qint64 SshDevice::bytesToWrite() const
{
    if (!isOpen() || !m_proc)
        return 0;
    return m_proc->bytesToWrite();
}

bool SshDevice::canReadLine() const
{
    if (!isOpen() || !m_proc)
        return false;
    return m_proc->canReadLine() || QIODevice::canReadLine();
}

bool SshDevice::isSequential() const
{
    return true;
}

qint64 SshDevice::readData(char* data, qint64 maxSize)
{
    if (!m_proc)
        return -1;
    return m_proc->read(data, maxSize);
}

qint64 SshDevice::writeData(const char* data, qint64 size)
{
    if (!m_proc)
        return -1;
    return m_proc->write(data, size);
}
