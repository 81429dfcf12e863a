#include "SessionLauncher.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace {

bool randomPassword(QString* password, QString* error)
{
    QFile random(QStringLiteral("/dev/urandom"));
    if (!random.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("Error opening the file \"%1\": %2")
                     .arg(random.fileName(), random.errorString());
        return false;
    }
    const QByteArray bytes = random.read(16);
    if (bytes.size() != 16) {
        *error = QStringLiteral("Error reading from the file \"%1\": %2")
                     .arg(random.fileName(), random.errorString());
        return false;
    }
    *password = QString::fromLatin1(bytes.toHex());
    return true;
}

} // namespace

SessionLauncher::SessionLauncher(const QString& dataDirectory)
    : m_dataDirectory(dataDirectory)
{
}

bool SessionLauncher::startSession(SessionRecord& session, QString* error, QString* log)
{
    const QStringList words = session.command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        *error = QStringLiteral("No command to start.");
        *log = QStringLiteral("The session \"%1\" has an empty command line.\n").arg(session.id);
        return false;
    }
    const QString program = words.first();
    const bool found = program.contains(QLatin1Char('/'))
        ? QFileInfo(program).isExecutable()
        : !QStandardPaths::findExecutable(program).isEmpty();
    if (!found) {
        *error = QStringLiteral("The program \"%1\" was not found.").arg(program);
        *log = QStringLiteral("exec: %1: not found\n").arg(program);
        return false;
    }
    if (!randomPassword(&session.password, error)) {
        *log = *error + QLatin1Char('\n');
        return false;
    }
    session.port = 0;
    session.windowMode = session.geometry == QLatin1String("rootless") ? session.geometry
                                                                         : QStringLiteral("desktop");
    session.runtime = QJsonObject();
    return true;
}

bool SessionLauncher::isAlive(const SessionRecord&) const
{
    return true;
}

int SessionLauncher::clientCount(const SessionRecord&) const
{
    return 0;
}

bool SessionLauncher::disconnectClients(const SessionRecord&, QString*)
{
    return true;
}

bool SessionLauncher::terminateSession(const SessionRecord&, QString*)
{
    return true;
}
