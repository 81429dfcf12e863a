#include "SciProcess.h"

#include "JsonRpcHandler.h"
#include "RandomToken.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>

SciProcess::SciProcess(const QString& dataHome)
    : m_dataHome(dataHome.isEmpty() ? m_dir.path() : dataHome)
{
}

SciProcess::~SciProcess()
{
    stop();
}

QString SciProcess::binDir()
{
    return QProcessEnvironment::systemEnvironment().value(QStringLiteral("ZENTU_BIN_DIR"));
}

bool SciProcess::start(QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dataHome);
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(binDir() + QStringLiteral("/zentu2_sci"), QStringList());
    if (!m_process.waitForStarted(10000)) {
        *error = m_process.errorString();
        return false;
    }
    m_handler = new JsonRpcHandler(&m_process, &m_process);
    return true;
}

void SciProcess::stop()
{
    delete m_handler;
    m_handler = nullptr;
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }
    if (m_dataHome == m_dir.path())
        terminateSessions(m_dataHome);
}

void terminateSessions(const QString& dataHome)
{
    QFile file(dataHome + QStringLiteral("/zentu-server/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray sessions =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("sessions")).toArray();
    QList<pid_t> pids;
    for (const QJsonValue& session : sessions) {
        const pid_t pid = pid_t(session.toObject()
                                    .value(QStringLiteral("runtime"))
                                    .toObject()
                                    .value(QStringLiteral("pid"))
                                    .toDouble());
        if (pid > 0 && ::kill(pid, SIGTERM) == 0)
            pids.append(pid);
    }
    // Each supervisor takes its display and program down before it exits.
    const bool ended = QTest::qWaitFor(
        [&pids]() {
            for (pid_t pid : pids) {
                if (::kill(pid, 0) == 0)
                    return false;
            }
            return true;
        },
        15000);
    if (!ended)
        qWarning("session supervisors still running after SIGTERM");
}

QJsonObject SciProcess::storedState() const
{
    QFile file(m_dataHome + QStringLiteral("/zentu-server/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool SciProcess::call(const QString& method, const QJsonObject& params, QJsonValue* result,
                      QJsonValue* error)
{
    bool answered = false;
    const QString id = m_handler->call(method, params,
                    [&answered, result, error](const QString&, const QJsonValue& r,
                                               const QJsonValue& e) {
                        answered = true;
                        *result = r;
                        if (error)
                            *error = e;
                    });
    if (QTest::qWaitFor([&answered]() { return answered; }, 15000))
        return true;
    // The callback refers to this frame: it must never run after a time-out.
    m_handler->cancel(id);
    return false;
}

QString newSessionId()
{
    QString id;
    QString error;
    randomToken(&id, &error);
    return id;
}

void pointHomeAt(const QString& path)
{
    qputenv("HOME", QFile::encodeName(path));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path + QStringLiteral("/.local/share")));
}

QJsonObject jsonObject(const char* text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qFatal("not a JSON object: %s", text);
    return document.object();
}

QList<QJsonObject> requests(const QBuffer& buffer)
{
    QList<QJsonObject> list;
    QByteArray data = buffer.data();
    while (!data.isEmpty()) {
        const int colon = data.indexOf(':');
        const int length = data.left(colon).toInt();
        list.append(QJsonDocument::fromJson(data.mid(colon + 1, length)).object());
        data.remove(0, colon + length + 2);
    }
    return list;
}
