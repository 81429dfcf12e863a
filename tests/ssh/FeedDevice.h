#pragma once

#include <QByteArray>
#include <QIODevice>

#include <cstring>

// An in-memory byte stream for parser tests and fuzz targets: feed() makes
// bytes readable (and emits readyRead), written bytes are collected in
// written(). Header only and without moc, so any target can include it.
class FeedDevice : public QIODevice
{
public:
    explicit FeedDevice(QObject* parent = nullptr)
        : QIODevice(parent)
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }

    void feed(const QByteArray& bytes)
    {
        m_input += bytes;
        emit readyRead();
    }
    QByteArray written() const { return m_written; }
    int pendingInput() const { return m_input.size(); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_input.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, m_input.size());
        std::memcpy(data, m_input.constData(), size_t(count));
        m_input.remove(0, int(count));
        return count;
    }
    qint64 writeData(const char* data, qint64 size) override
    {
        m_written.append(data, int(size));
        return size;
    }

private:
    QByteArray m_input;
    QByteArray m_written;
};
