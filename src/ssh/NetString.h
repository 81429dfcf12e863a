#pragma once

#include <QByteArray>
#include <QString>

// Netstring framing of the command channel and the askpass socket:
// "<decimal byte count>:<payload>,".

// Returns the frame for payload.
QByteArray encodeNetString(const QByteArray& payload);

// Incremental reader of netstrings arriving in arbitrary pieces.
class NetStringBuffer
{
public:
    enum Outcome {
        Payload,          // a complete frame was taken off the buffer
        NeedMore,         // the buffer is unchanged; wait for more bytes
        InvalidNetString, // bad or missing colon
        InvalidLength,    // the text before the colon is not a number
        LengthTooBig      // a payload above MaxPayload bytes
    };

    static constexpr int MaxLengthDigits = 7;
    static constexpr int MaxPayload = 65536;
    // Readers read their device in chunks of at most this many bytes.
    static constexpr int ReadChunk = 4096;

    void append(const QByteArray& bytes);
    void append(const char* data, int size);

    // One parse step. On Payload, *payload holds the frame's payload; on any
    // other outcome the buffer is left as it was. After an error the stream
    // cannot be resynchronised.
    Outcome takeFrame(QByteArray* payload);

    // The bytes received and not yet consumed.
    QByteArray buffer() const;
    int size() const;
    bool isEmpty() const;
    // Position of needle within the unconsumed bytes, or -1.
    int indexOf(const QByteArray& needle) const;
    // Drops the first count unconsumed bytes.
    void discard(int count);
    // Keeps only the last count unconsumed bytes.
    void keepLast(int count);

    // Message for an error outcome, empty for the others: untranslated for
    // the programs without a catalogue, translated for the client's readers.
    static const char* errorText(Outcome outcome);
    static QString errorString(Outcome outcome);

private:
    void compact();

    QByteArray m_data;
    // Bytes before this index are consumed: frames are taken by moving the
    // offset, and the array is compacted only once the consumed part dominates,
    // which keeps parsing linear in the amount of input.
    int m_offset = 0;
};
