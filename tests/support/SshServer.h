#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A throwaway OpenSSH server on 127.0.0.1 (fresh host key, free port, remote
// PATH led by $ZENTU_BIN_DIR so the stand-ins are found) and a client setup
// for it. The real ssh reads the passwd home, not $HOME, so the client side is
// an "ssh" launcher in clientBinDir() that passes "-F" with the fixture's
// config (its own key and known_hosts); clientEnvironment() puts it first on
// PATH. sshd is stopped by its pid when the fixture goes.
class SshServer
{
public:
    enum class KeyType { Ed25519, Rsa };

    struct Options
    {
        // Type of the server's host key.
        KeyType hostKeyType = KeyType::Ed25519;
        // Write the host key into the client's known_hosts, so no host-key
        // question comes. When false, ssh asks (through askpass) on first contact.
        bool knownHost = true;
        // Passphrase of the client key; empty for an unencrypted key.
        QString clientKeyPassphrase;
        // Put the client key into authorized_keys.
        bool authorizeClientKey = true;
        // Additional sshd_config lines (for example "MaxAuthTries 1").
        QStringList extraServerConfig;
    };

    // Result of a synchronous ssh run.
    struct RunResult
    {
        int exitCode = -1;
        bool finished = false; // false when ssh failed to start or timed out
        QByteArray standardOutput;
        QByteArray standardError;
    };

    SshServer();
    explicit SshServer(const Options& options);
    ~SshServer();

    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // Creates keys and configuration, starts sshd and waits until the port
    // accepts connections. Returns false with a reason on failure.
    bool start(QString* error);
    bool isRunning() const;
    // Stops sshd (by pid) and waits for it; also done by the destructor.
    void stop();

    QString host() const;   // "127.0.0.1"
    quint16 port() const;
    QString user() const;   // the current user (root under CI)
    // "SHA256:..." of the host key, as ssh prints it in host-key questions.
    QString hostKeyFingerprint() const;

    QString directory() const;        // the fixture's temporary directory
    QString logPath() const;          // sshd's log (-E)
    QString serverLog() const;        // its contents
    QString serverConfigPath() const;
    QString clientHome() const;       // HOME-like directory with .ssh/config
    QString clientConfigPath() const;
    QString clientKeyPath() const;
    QString knownHostsPath() const;
    QString clientBinDir() const;     // holds the "ssh" launcher

    // System environment with HOME = clientHome(), PATH = clientBinDir(),
    // $ZENTU_BIN_DIR, then the inherited PATH; SSH_ASKPASS, SSH_ASKPASS_REQUIRE,
    // SSH_AUTH_SOCK and TALVENE_ASKPASS_SERVER removed.
    QProcessEnvironment clientEnvironment() const;
    // Applies clientEnvironment()'s HOME and PATH (and the removals) to this
    // process, for code that starts ssh with the system environment. The
    // previous values come back when the fixture is destroyed.
    void exportClientEnvironment();

    // Runs "ssh -l user -p port -- 127.0.0.1 <command>" with the client
    // environment (no askpass: DISPLAY removed), writes input to its standard
    // input, closes it and waits up to timeoutMs.
    RunResult runSsh(const QString& command, const QByteArray& input = QByteArray(),
                     int timeoutMs = 30000) const;

    // A TCP port on 127.0.0.1 that was free a moment ago.
    static quint16 freePort();
    // Build's bin directory ($ZENTU_BIN_DIR), empty if unset.
    static QString binDir();

private:
    bool prepare(QString* error);
    bool launch(QString* error);
    bool writeFile(const QString& path, const QByteArray& contents, QString* error,
                   bool executable = false);

    Options m_options;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_sshd;
    quint16 m_port = 0;
    QString m_fingerprint;
    QString m_realSsh;
    bool m_prepared = false;
    QList<QPair<QByteArray, QByteArray>> m_savedEnvironment;
    bool m_exported = false;
};

// Runs a program to completion with a timeout; used for ssh-keygen and similar.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output,
             QString* error, int timeoutMs = 30000);

// True once a process has ended (reaped, or a zombie): for ssh clients and servers.
bool processGone(qint64 pid);
