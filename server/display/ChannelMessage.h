#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Messages of the custom static channels: an 8-byte little-endian header
// (type u16, zero u16, payload length u32) followed by the payload.
struct ChannelMessage
{
    quint16 type = 0;
    QByteArray payload;
};

QByteArray encodeChannelMessage(quint16 type, const QByteArray& payload);
// Accepts only a complete header whose length field matches the bytes that follow.
bool decodeChannelMessage(const QByteArray& data, ChannelMessage* message, QString* error);

QByteArray encodeU16List(std::initializer_list<quint16> values);
// Reads count 16-bit values; false when the payload is too short.
bool decodeU16List(const QByteArray& payload, int count, quint16* values);
