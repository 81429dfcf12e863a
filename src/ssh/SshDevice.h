#pragma once

#include <QHostInfo>
#include <QIODevice>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class NottyProcess;

// One run of the OpenSSH client as an I/O device: reading and writing the
// device reads and writes the remote command's standard output and input.
// The run carries a dynamic SOCKS forward on a local port, keeps ssh's
// verbose diagnostics as a bounded log and reports its end once through
// finished(status). A device is used for one run.
class SshDevice : public QIODevice
{
    Q_OBJECT

public:
    static constexpr int LogLimit = 65536;
    static constexpr quint16 FirstTunnelPort = 41000;
    static constexpr quint16 EndTunnelPort = 41100; // not included

    explicit SshDevice(QObject* parent = nullptr);
    ~SshDevice() override;

    // Asks for the user name through askpass first when user is empty. An
    // empty command carries only the tunnel ("-N"). Ignored while open.
    void start(const QString& host, quint16 port, const QString& user, const QString& command, bool fips,
               const QString& askpassServer);

    QString host() const;
    quint16 port() const;
    QString user() const;
    QString command() const;
    bool fips() const;
    QString askpassServer() const;
    quint16 tunnelPort() const;
    // The host ssh actually reached; the given host until that is known.
    QString realHost() const;
    bool isConnected() const;
    bool status() const;
    QStringList log() const;
    // The arguments ssh was last started with.
    QStringList sshArguments() const;
    // Whether a display may use the SOCKS forward now: there is one, and what
    // listens on its port at 127.0.0.1 is this run's ssh and nothing else.
    // False with the reason in error otherwise.
    bool checkTunnel(QString* error) const;

    void close() override;
    bool atEnd() const override;
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool canReadLine() const override;
    bool isSequential() const override;

    // First port of [first, end) on 127.0.0.1 whose connection attempt is
    // refused, or 0 when there is none. Blocks up to 100 ms per port tried.
    static quint16 findFreePort(quint16 first, quint16 end);
    // Environment of child processes: the system environment with the
    // program's own directory first on PATH and, for ssh, the askpass relay
    // set up unless the user already names an askpass program.
    static QProcessEnvironment childEnvironment(const QString& askpassServer, bool forSsh);

signals:
    // ssh reported its interactive session (the login succeeded).
    void connected();
    // The run ended: true for exit code 0 or a close by the program.
    void finished(bool status);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private slots:
    void on_AProc_finished(int exitCode, QProcess::ExitStatus exitStatus);
    void on_AProc_error(QProcess::ProcessError error);
    void on_Proc_error(QProcess::ProcessError error);
    void on_Proc_finished(int exitCode, QProcess::ExitStatus exitStatus);
    void on_Proc_readyReadStandardError();
    void RealHost_lookupFinished(const QHostInfo& info);

private:
    void startAskpass();
    void startSsh();
    void appendLog(const QString& line);
    void end(bool status);
    void releaseTunnelPort();
    void reportConnected();
    // ssh reported the end of the remote command.
    void commandEnded();

    QString m_host;
    quint16 m_port = 0;
    QString m_user;
    QString m_command;
    bool m_fips = false;
    QString m_askpassServer;
    QPointer<QProcess> m_aproc;
    QPointer<NottyProcess> m_proc;
    quint16 m_tunnelPort = 0;
    bool m_portClaimed = false;
    QString m_realHost;
    int m_lookupId = -1;
    bool m_connected = false;
    // ssh reported its interactive session; connected() waits for the lookup.
    bool m_interactiveSeen = false;
    // ssh reported its connection: later lines come from the server's banner
    // or the remote command and name no address ssh connects to.
    bool m_established = false;
    QStringList m_log;
    int m_logSize = 0;
    bool m_status = true;
    QStringList m_sshArguments;
};
