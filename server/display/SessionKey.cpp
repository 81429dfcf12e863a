#include "SessionKey.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStringList>

namespace {

constexpr int ToolTimeoutMs = 30000;
// A key is short about one time in twenty: this many in a row do not happen.
constexpr int Attempts = 12;

bool runOpenssl(const QStringList& arguments, QByteArray* output, QString* error)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::SeparateChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(ToolTimeoutMs) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        if (openssl.state() != QProcess::NotRunning) {
            openssl.kill();
            openssl.waitForFinished(5000);
        }
        const QString reason = QString::fromLocal8Bit(openssl.readAllStandardError()).trimmed();
        *error = QStringLiteral("openssl %1 failed: %2")
                     .arg(arguments.first(), reason.isEmpty() ? openssl.errorString() : reason);
        return false;
    }
    *output = openssl.readAllStandardOutput();
    return true;
}

// Length in bytes of a number in "openssl rsa -text" output: the label's line,
// then indented lines of colon-separated hex bytes; leading zero bytes (a sign
// byte) do not count. -1 when the label is missing.
int numberLength(const QByteArray& text, const QByteArray& label)
{
    const QList<QByteArray> lines = text.split('\n');
    const int start = lines.indexOf(label + ':');
    if (start < 0)
        return -1;
    QByteArray hex;
    for (int i = start + 1; i < lines.size() && lines.at(i).startsWith(' '); ++i)
        hex += lines.at(i).trimmed();
    QList<QByteArray> bytes = hex.split(':');
    bytes.removeAll(QByteArray());
    while (!bytes.isEmpty() && bytes.first() == "00")
        bytes.removeFirst();
    return bytes.size();
}

} // namespace

bool sessionKeyUsable(const QString& path, QString* error)
{
    QByteArray text;
    if (!runOpenssl({ QStringLiteral("rsa"), QStringLiteral("-in"), path, QStringLiteral("-noout"),
                      QStringLiteral("-text") },
                    &text, error))
        return false;
    const int modulus = numberLength(text, "modulus");
    const int exponent = numberLength(text, "privateExponent");
    if (modulus <= 0 || exponent <= 0) {
        *error = QStringLiteral("%1 is not an RSA private key").arg(path);
        return false;
    }
    if (exponent != modulus) {
        *error = QStringLiteral("the private exponent of %1 has %2 bytes, its modulus %3")
                     .arg(path)
                     .arg(exponent)
                     .arg(modulus);
        return false;
    }
    return true;
}

bool writeSessionKey(const QString& path, QString* error)
{
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        QByteArray ignored;
        if (!runOpenssl({ QStringLiteral("genrsa"), QStringLiteral("-out"), path, QStringLiteral("2048") },
                        &ignored, error))
            return false;
        if (sessionKeyUsable(path, error))
            return true;
    }
    return false;
}
