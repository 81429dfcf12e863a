#include "ConnectionFailure.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringList>

#include "FailureBox.h"
#include "JsonRpcHandler.h"
#include "SshDevice.h"

namespace {

// The texts belong to the main window's catalogue context. lupdate cannot
// see through this wrapper, so each text is marked in that context.
QString failureText(const char* text)
{
    return QCoreApplication::translate("ConnectionListWidget", text);
}

// Lines that are not ssh's own -v diagnostics: those mention missing files
// and "not found" on almost every run and say nothing about a failure.
QString diagnosticFreeText(const QStringList& log)
{
    QStringList kept;
    const QStringList lines = log.join(QLatin1Char('\n')).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1String("debug1:")) && !line.startsWith(QLatin1String("debug2:"))
            && !line.startsWith(QLatin1String("debug3:")))
            kept << line;
    }
    return kept.join(QLatin1Char('\n'));
}

} // namespace

QString connectionFailureDetail(const QStringList& log, const QString& host, const QString& user,
                                const QString& errorString)
{
    enum Detail { Sci, Authentication, UnknownHost, Unreachable, Plink, IllegalOption, TunnelPort };
    struct Phrase
    {
        const char* text;
        Detail detail;
    };
    static const Phrase phrases[] = {
        {"command not found", Sci},
        {"not found", Sci},
        {"error while loading shared libraries", Sci},
        {"No such file or directory", Sci},
        {"Too many authentication failures", Authentication},
        {"No more authentication methods to try", Authentication},
        // The only non-diagnostic line ssh prints when it gives up authenticating.
        {"Permission denied (", Authentication},
        {"Host does not exist", UnknownHost},
        {"no address associated with name", UnknownHost},
        {"Could not resolve hostname", UnknownHost},
        {"Connection timed out", Unreachable},
        {"Attempt to connect timed out", Unreachable},
        {"plink: unknown option", Plink},
        {"ssh: illegal option", IllegalOption},
        // ExitOnForwardFailure: the SOCKS port was taken after it was chosen.
        {"Could not request local forwarding.", TunnelPort},
    };

    const QString text = diagnosticFreeText(log);
    for (const Phrase& phrase : phrases) {
        if (!text.contains(QLatin1String(phrase.text)))
            continue;
        switch (phrase.detail) {
        case Sci:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget",
                                                 "Unable to contact the server. Check that the server is properly "
                                                 "installed and that the SCI is accessible to the user \"%1\"."))
                .arg(user);
        case Authentication:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget", "Unable to authenticate the user \"%1\"."))
                .arg(user);
        case UnknownHost:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget",
                                                 "The host \"%1\" was not recognized. "
                                                 "Make sure the hostname is correct."))
                .arg(host);
        case Unreachable:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget",
                                                 "Unable to connect to the host \"%1\". The host may be down."))
                .arg(host);
        case Plink:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget",
                                                 "The program \"%1\" failed to start. The %2 install may be corrupt."))
                .arg(QStringLiteral("plink"), QCoreApplication::applicationName());
        case IllegalOption:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget",
                                                 "The program \"%1\" failed to start. "
                                                 "Make sure a version of %2 is installed."))
                .arg(QStringLiteral("ssh"), QStringLiteral("OpenSSH"));
        case TunnelPort:
            return failureText(QT_TRANSLATE_NOOP("ConnectionListWidget",
                                                 "The local port of the SSH tunnel was taken by another program. "
                                                 "Try to connect again."));
        }
    }
    return errorString;
}

void reportConnectionFailure(SshDevice* device, JsonRpcHandler* handler)
{
    if (!device)
        return;
    const QString summary =
        failureText(QT_TRANSLATE_NOOP("ConnectionListWidget", "There was a problem with the connection."));
    if (device->status()) {
        if (!handler || handler->isValid())
            return;
        showFailureBox(summary, handler->errorString());
        return;
    }
    const QStringList log = device->log();
    showFailureBox(summary, connectionFailureDetail(log, device->host(), device->user(), device->errorString()),
                   log.join(QLatin1Char('\n')));
}
