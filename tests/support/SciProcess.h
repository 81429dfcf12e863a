#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class JsonRpcHandler;
class QBuffer;

// A local "zentu2_sci" with its own data folder, its standard input and
// output serving as the device of a JsonRpcHandler (no ssh in between).
class SciProcess
{
public:
    // Keeps its state below dataHome, or in a temporary folder of its own.
    explicit SciProcess(const QString& dataHome = QString());
    ~SciProcess();

    SciProcess(const SciProcess&) = delete;
    SciProcess& operator=(const SciProcess&) = delete;

    bool start(QString* error);
    // Stops the process by its pid and waits for it. Sessions started in a
    // folder of its own end with it; in a given folder they stay.
    void stop();

    QProcess* process() { return &m_process; }
    JsonRpcHandler* handler() const { return m_handler; }
    // $XDG_DATA_HOME of the stand-in; its state lives in "zentu-server" below.
    QString dataHome() const { return m_dataHome; }
    // The stand-in's stored state, as it is on disk now.
    QJsonObject storedState() const;

    // Calls a method and waits for its reply; false on a time-out.
    bool call(const QString& method, const QJsonObject& params, QJsonValue* result,
              QJsonValue* error = nullptr);

    static QString binDir();

private:
    QTemporaryDir m_dir;
    QString m_dataHome;
    QProcess m_process;
    JsonRpcHandler* m_handler = nullptr;
};

// Ends the session supervisors recorded in a stand-in's data folder.
void terminateSessions(const QString& dataHome);

// Points HOME, XDG_CONFIG_HOME and XDG_DATA_HOME of this process below path.
void pointHomeAt(const QString& path);

// A fresh 32-digit session id.
QString newSessionId();

// The requests a JsonRpcHandler wrote to a buffer device, in order.
QList<QJsonObject> requests(const QBuffer& buffer);

// A JSON object written as text; a malformed text ends the test program.
QJsonObject jsonObject(const char* text);
