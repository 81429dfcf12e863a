#include "LoopbackListener.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QSet>
#include <QtEndian>

#include <dirent.h>
#include <unistd.h>

#include <cstring>

namespace {

// "0100007F:A028" or 32 hexadecimal digits and a port: each group of eight
// digits is one 32-bit word of the address as it lies in memory.
bool parseEndpoint(const QByteArray& text, QHostAddress* address, quint16* port)
{
    const int colon = text.indexOf(':');
    if (colon != 8 && colon != 32)
        return false;
    bool ok = false;
    *port = text.mid(colon + 1).toUShort(&ok, 16);
    if (!ok)
        return false;
    quint8 bytes[16];
    for (int word = 0; word < colon / 8; ++word) {
        const quint32 value = text.mid(word * 8, 8).toUInt(&ok, 16);
        if (!ok)
            return false;
        std::memcpy(bytes + 4 * word, &value, 4);
    }
    if (colon == 8)
        *address = QHostAddress(qFromBigEndian<quint32>(bytes));
    else
        *address = QHostAddress(bytes);
    return true;
}

// Whether a listener bound to listener receives connections made to target.
bool reaches(const QHostAddress& listener, const QHostAddress& target)
{
    if (listener.protocol() == QAbstractSocket::IPv6Protocol) {
        // An IPv6 wildcard may take IPv4 too unless it is IPv6-only, which the
        // tables do not tell: count it either way.
        if (listener == QHostAddress(QHostAddress::AnyIPv6))
            return true;
        bool mapped = false;
        const quint32 ipv4 = listener.toIPv4Address(&mapped);
        if (mapped)
            return target.protocol() == QAbstractSocket::IPv4Protocol && ipv4 == target.toIPv4Address();
        return target.protocol() == QAbstractSocket::IPv6Protocol && listener == target;
    }
    if (target.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    return listener == QHostAddress(QHostAddress::AnyIPv4) || listener.toIPv4Address() == target.toIPv4Address();
}

// Socket inodes of the listeners in one table that reach address:port.
bool listenersIn(const QString& table, const QHostAddress& address, quint16 port, QList<quint64>* inodes)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.readLine(4096); // the heading
    // Lines are about 150 bytes; a longer one is not a socket entry.
    for (QByteArray line = file.readLine(4096); !line.isEmpty(); line = file.readLine(4096)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 10 || fields.at(3) != "0A") // 0A: listening
            continue;
        QHostAddress local;
        quint16 localPort = 0;
        if (!parseEndpoint(fields.at(1), &local, &localPort) || localPort != port || !reaches(local, address))
            continue;
        bool ok = false;
        const quint64 inode = fields.at(9).toULongLong(&ok);
        if (ok)
            inodes->append(inode);
    }
    return true;
}

QSet<quint64> socketsOf(qint64 pid)
{
    QSet<quint64> sockets;
    const QByteArray directory = QByteArray("/proc/") + QByteArray::number(pid) + "/fd";
    DIR* fds = ::opendir(directory.constData());
    if (!fds)
        return sockets;
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[64];
        const QByteArray link = directory + '/' + entry->d_name;
        const ssize_t length = ::readlink(link.constData(), target, sizeof(target) - 1);
        if (length <= 0)
            continue;
        const QByteArray text(target, int(length));
        if (!text.startsWith("socket:[") || !text.endsWith(']'))
            continue;
        bool ok = false;
        const quint64 inode = text.mid(8, text.size() - 9).toULongLong(&ok);
        if (ok)
            sockets.insert(inode);
    }
    ::closedir(fds);
    return sockets;
}

} // namespace

bool loopbackListenerOwnedBy(const QHostAddress& address, quint16 port, qint64 pid, QString* error)
{
    QList<quint64> inodes;
    // A kernel without IPv6 has no tcp6 table; that is no listener there.
    const QString tcp6 = QStringLiteral("/proc/net/tcp6");
    if (!listenersIn(QStringLiteral("/proc/net/tcp"), address, port, &inodes)
        || (QFile::exists(tcp6) && !listenersIn(tcp6, address, port, &inodes))) {
        *error = QCoreApplication::translate("SshDevice", "The listeners on local port %1 cannot be read.").arg(port);
        return false;
    }
    if (inodes.isEmpty()) {
        *error = QCoreApplication::translate("SshDevice", "Nothing listens on local port %1.").arg(port);
        return false;
    }
    const QSet<quint64> own = socketsOf(pid);
    for (quint64 inode : qAsConst(inodes)) {
        if (!own.contains(inode)) {
            *error = QCoreApplication::translate("SshDevice", "Another program listens on local port %1.").arg(port);
            return false;
        }
    }
    return true;
}
