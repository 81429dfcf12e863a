#include "RandomToken.h"

#include <QCoreApplication>
#include <QFile>

bool randomToken(QString* token, QString* error)
{
    constexpr int size = 16;
    QFile random(QStringLiteral("/dev/urandom"));
    if (!random.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QCoreApplication::translate("RandomToken", "Error opening the file \"%1\": %2")
                     .arg(random.fileName(), random.errorString());
        return false;
    }
    const QByteArray bytes = random.read(size);
    if (bytes.size() != size) {
        *error = QCoreApplication::translate("RandomToken", "Error reading from the file \"%1\": %2")
                     .arg(random.fileName(), random.errorString());
        return false;
    }
    *token = QString::fromLatin1(bytes.toHex());
    return true;
}
