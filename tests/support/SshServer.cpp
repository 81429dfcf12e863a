#include "SshServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>
#include <pwd.h>

namespace {

const char* const kRemovedVariables[] = {"SSH_ASKPASS", "SSH_ASKPASS_REQUIRE", "SSH_AUTH_SOCK",
                                         "TALVENE_ASKPASS_SERVER"};

QString keyTypeArgument(SshServer::KeyType type)
{
    return type == SshServer::KeyType::Rsa ? QStringLiteral("rsa") : QStringLiteral("ed25519");
}

QString shellQuote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// sshd gives its sessions a fresh environment; the sanitizer settings of a
// sanitized test run are carried over, so that the programs of the build it
// starts report where the run looks for reports.
QString sanitizerEnvironment()
{
    QString settings;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            settings += QStringLiteral(" \"%1=%2\"").arg(QLatin1String(name), qEnvironmentVariable(name));
    }
    return settings;
}

} // namespace

bool runTool(const QString& program, const QStringList& arguments, QByteArray* output,
             QString* error, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        *error = QStringLiteral("%1 failed to start: %2").arg(program, process.errorString());
        return false;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        *error = QStringLiteral("%1 timed out").arg(program);
        return false;
    }
    const QByteArray out = process.readAll();
    if (output)
        *output = out;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("%1 %2 failed (%3): %4")
                     .arg(program, arguments.join(QLatin1Char(' ')))
                     .arg(process.exitCode())
                     .arg(QString::fromLocal8Bit(out));
        return false;
    }
    return true;
}

SshServer::SshServer()
    : SshServer(Options())
{
}

SshServer::SshServer(const Options& options)
    : m_options(options)
{
    m_realSsh = QStandardPaths::findExecutable(QStringLiteral("ssh"));
}

SshServer::~SshServer()
{
    stop();
    if (m_exported) {
        for (const auto& saved : qAsConst(m_savedEnvironment)) {
            if (saved.second.isNull())
                qunsetenv(saved.first.constData());
            else
                qputenv(saved.first.constData(), saved.second);
        }
    }
}

QString SshServer::binDir()
{
    return QString::fromLocal8Bit(qgetenv("ZENTU_BIN_DIR"));
}

quint16 SshServer::freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QString SshServer::host() const { return QStringLiteral("127.0.0.1"); }
quint16 SshServer::port() const { return m_port; }

QString SshServer::user() const
{
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

QString SshServer::hostKeyFingerprint() const { return m_fingerprint; }

QString SshServer::directory() const { return m_dir.path(); }
QString SshServer::logPath() const { return m_dir.filePath(QStringLiteral("sshd.log")); }
QString SshServer::serverConfigPath() const { return m_dir.filePath(QStringLiteral("sshd_config")); }
QString SshServer::clientHome() const { return m_dir.filePath(QStringLiteral("home")); }
QString SshServer::clientConfigPath() const { return clientHome() + QStringLiteral("/.ssh/config"); }
QString SshServer::clientKeyPath() const { return clientHome() + QStringLiteral("/.ssh/id_test"); }
QString SshServer::knownHostsPath() const { return clientHome() + QStringLiteral("/.ssh/known_hosts"); }
QString SshServer::clientBinDir() const { return m_dir.filePath(QStringLiteral("clientbin")); }

QString SshServer::serverLog() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}

bool SshServer::writeFile(const QString& path, const QByteArray& contents, QString* error,
                          bool executable)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    file.setPermissions(permissions);
    return true;
}

bool SshServer::prepare(QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    if (m_realSsh.isEmpty()) {
        *error = QStringLiteral("ssh is not on PATH");
        return false;
    }
    const QString sshDir = clientHome() + QStringLiteral("/.ssh");
    if (!QDir().mkpath(sshDir) || !QDir().mkpath(clientBinDir())) {
        *error = QStringLiteral("cannot create %1").arg(sshDir);
        return false;
    }
    QDir().mkpath(QStringLiteral("/run/sshd"));

    const QString hostKey = m_dir.filePath(QStringLiteral("host_key"));
    if (!runTool(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-q"), QStringLiteral("-t"), keyTypeArgument(m_options.hostKeyType),
                  QStringLiteral("-N"), QString(), QStringLiteral("-C"), QStringLiteral("zentu-test-host"),
                  QStringLiteral("-f"), hostKey},
                 nullptr, error))
        return false;
    QByteArray fingerprintLine;
    if (!runTool(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
                  hostKey + QStringLiteral(".pub")},
                 &fingerprintLine, error))
        return false;
    const QList<QByteArray> fingerprintFields = fingerprintLine.simplified().split(' ');
    if (fingerprintFields.size() < 2) {
        *error = QStringLiteral("unexpected ssh-keygen output: %1").arg(QString::fromLocal8Bit(fingerprintLine));
        return false;
    }
    m_fingerprint = QString::fromLatin1(fingerprintFields.at(1));

    if (!runTool(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                  m_options.clientKeyPassphrase, QStringLiteral("-C"), QStringLiteral("zentu-test-client"),
                  QStringLiteral("-f"), clientKeyPath()},
                 nullptr, error))
        return false;

    QByteArray authorized;
    if (m_options.authorizeClientKey) {
        QFile publicKey(clientKeyPath() + QStringLiteral(".pub"));
        if (!publicKey.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the client public key");
            return false;
        }
        authorized = publicKey.readAll();
    }
    if (!writeFile(m_dir.filePath(QStringLiteral("authorized_keys")), authorized, error))
        return false;

    m_prepared = true;
    return true;
}

bool SshServer::launch(QString* error)
{
    const QString remotePath = (binDir().isEmpty() ? QString() : binDir() + QLatin1Char(':'))
                               + QStringLiteral("/usr/local/bin:/usr/bin:/bin");
    QStringList config = {
        QStringLiteral("Port %1").arg(m_port),
        QStringLiteral("ListenAddress 127.0.0.1"),
        QStringLiteral("HostKey %1").arg(m_dir.filePath(QStringLiteral("host_key"))),
        QStringLiteral("PidFile none"),
        QStringLiteral("UsePAM no"),
        QStringLiteral("StrictModes no"),
        QStringLiteral("AuthorizedKeysFile %1").arg(m_dir.filePath(QStringLiteral("authorized_keys"))),
        QStringLiteral("PasswordAuthentication yes"),
        QStringLiteral("KbdInteractiveAuthentication no"),
        QStringLiteral("PermitRootLogin prohibit-password"),
        QStringLiteral("AllowTcpForwarding yes"),
        QStringLiteral("SetEnv PATH=%1").arg(remotePath),
    };
    // sshd takes the first value of a keyword, so the caller's lines go first.
    config = m_options.extraServerConfig + config;
    for (QString& line : config) {
        if (line.startsWith(QLatin1String("SetEnv "))) {
            line += sanitizerEnvironment();
            break;
        }
    }
    if (!writeFile(serverConfigPath(), config.join(QLatin1Char('\n')).toLocal8Bit() + '\n', error))
        return false;

    m_sshd = std::make_unique<QProcess>();
    m_sshd->setProcessChannelMode(QProcess::ForwardedChannels);
    m_sshd->start(QStringLiteral("/usr/sbin/sshd"),
                  {QStringLiteral("-D"), QStringLiteral("-f"), serverConfigPath(), QStringLiteral("-E"), logPath()});
    if (!m_sshd->waitForStarted(10000)) {
        *error = QStringLiteral("sshd failed to start: %1").arg(m_sshd->errorString());
        m_sshd.reset();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        if (m_sshd->state() != QProcess::Running) {
            *error = QStringLiteral("sshd exited: %1").arg(serverLog());
            m_sshd.reset();
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(500)) {
            probe.abort();
            return true;
        }
        QTest::qWait(20);
    }
    *error = QStringLiteral("sshd does not accept connections on port %1").arg(m_port);
    stop();
    return false;
}

bool SshServer::start(QString* error)
{
    if (isRunning())
        return true;
    if (!m_prepared && !prepare(error))
        return false;
    // The port may be taken between choosing and binding it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        if (m_port == 0) {
            *error = QStringLiteral("no free port");
            return false;
        }
        if (launch(error))
            break;
        if (attempt == 4)
            return false;
    }

    const QString keyLine = [this] {
        QFile publicKey(m_dir.filePath(QStringLiteral("host_key.pub")));
        if (!publicKey.open(QIODevice::ReadOnly))
            return QString();
        const QList<QByteArray> fields = publicKey.readAll().simplified().split(' ');
        return fields.size() >= 2 ? QString::fromLatin1(fields.at(0) + ' ' + fields.at(1)) : QString();
    }();
    if (keyLine.isEmpty()) {
        *error = QStringLiteral("cannot read the host public key");
        return false;
    }
    const QByteArray knownHosts = m_options.knownHost
        ? QStringLiteral("[127.0.0.1]:%1 %2\n").arg(m_port).arg(keyLine).toLatin1()
        : QByteArray();
    if (!writeFile(knownHostsPath(), knownHosts, error))
        return false;

    const QString clientConfig = QStringLiteral(
        "Host *\n"
        "    IdentityFile %1\n"
        "    IdentitiesOnly yes\n"
        "    UserKnownHostsFile %2\n"
        "    GlobalKnownHostsFile /dev/null\n"
        "    StrictHostKeyChecking ask\n"
        "    BatchMode no\n"
        "    ConnectTimeout 20\n")
        .arg(clientKeyPath(), knownHostsPath());
    if (!writeFile(clientConfigPath(), clientConfig.toLocal8Bit(), error))
        return false;
    const QString launcher = QStringLiteral("#!/bin/sh\nexec %1 -F %2 \"$@\"\n")
                                 .arg(shellQuote(m_realSsh), shellQuote(clientConfigPath()));
    return writeFile(clientBinDir() + QStringLiteral("/ssh"), launcher.toLocal8Bit(), error, true);
}

bool SshServer::isRunning() const
{
    return m_sshd && m_sshd->state() == QProcess::Running;
}

void SshServer::stop()
{
    if (!m_sshd)
        return;
    if (m_sshd->state() != QProcess::NotRunning) {
        m_sshd->terminate();
        if (!m_sshd->waitForFinished(5000)) {
            m_sshd->kill();
            m_sshd->waitForFinished(5000);
        }
    }
    m_sshd.reset();
}

QProcessEnvironment SshServer::clientEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : kRemovedVariables)
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), clientHome());
    QStringList path = {clientBinDir()};
    if (!binDir().isEmpty())
        path << binDir();
    const QString inherited = environment.value(QStringLiteral("PATH"));
    if (!inherited.isEmpty())
        path << inherited;
    environment.insert(QStringLiteral("PATH"), path.join(QLatin1Char(':')));
    return environment;
}

void SshServer::exportClientEnvironment()
{
    const QProcessEnvironment environment = clientEnvironment();
    QList<QByteArray> names = {"HOME", "PATH"};
    for (const char* name : kRemovedVariables)
        names << QByteArray(name);
    for (const QByteArray& name : qAsConst(names)) {
        if (!m_exported)
            m_savedEnvironment.append({name, qEnvironmentVariableIsSet(name.constData()) ? qgetenv(name.constData())
                                                                                        : QByteArray()});
        const QString key = QString::fromLatin1(name);
        if (environment.contains(key))
            qputenv(name.constData(), environment.value(key).toLocal8Bit());
        else
            qunsetenv(name.constData());
    }
    m_exported = true;
}

SshServer::RunResult SshServer::runSsh(const QString& command, const QByteArray& input, int timeoutMs) const
{
    RunResult result;
    QProcessEnvironment environment = clientEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(clientBinDir() + QStringLiteral("/ssh"),
                  {QStringLiteral("-l"), user(), QStringLiteral("-p"), QString::number(m_port),
                   QStringLiteral("--"), host(), command});
    if (!process.waitForStarted(timeoutMs))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.standardError = process.readAllStandardError();
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}
