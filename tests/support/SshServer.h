#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A throwaway OpenSSH server on 127.0.0.1 plus a matching client setup, for
// tests that need a real ssh login.
//
// Usage:
//     SshServer server;                      // or SshServer server(options)
//     QString error;
//     QVERIFY2(server.start(&error), qPrintable(error));
//     server.exportClientEnvironment();      // code under test runs plain "ssh"
//     ... ssh -l server.user() -p server.port() 127.0.0.1 zentu2_sci ...
//
// Server side: fresh host key of the chosen type, a free port, sshd_config with
// PidFile none / UsePAM no / StrictModes no, and PATH for remote commands set to
// "$ZENTU_BIN_DIR:/usr/local/bin:/usr/bin:/bin" so the stand-ins of the build
// (zentu2_sci, ...) are found. Note that the login shell of the user may still
// prepend entries of its own start-up files to PATH. sshd runs in the
// foreground and is stopped by its pid when the fixture is destroyed.
//
// Client side: the real ssh client ignores $HOME and reads the config of the
// passwd home directory, so an override of HOME alone has no effect. The
// fixture therefore writes a client directory with .ssh/config (identity,
// known_hosts of its own, StrictHostKeyChecking ask, BatchMode no) and a small
// "ssh" launcher in clientBinDir() that runs the real ssh with "-F" pointing at
// that config. clientEnvironment() puts clientBinDir() first on PATH, so a
// plain "ssh -l user -p port 127.0.0.1 cmd" started with that environment (or
// after exportClientEnvironment()) logs in with the client key and checks the
// host key against the fixture's known_hosts only.
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
