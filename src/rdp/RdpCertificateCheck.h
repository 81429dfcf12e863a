#pragma once

#include <QObject>
#include <QPointer>
#include <QSemaphore>

#include <freerdp/freerdp.h>

#include <atomic>

class QMessageBox;

// The user's say on a server certificate the system does not trust. The
// library checks a certificate against the system's authorities and then
// against its own store of certificates accepted earlier; only an unknown
// one reaches ask, which puts the question on the GUI thread and waits for
// the answer on the connecting thread. A certificate that differs from the
// stored one is refused without a question, and the user is told.
class RdpCertificateCheck : public QObject
{
    Q_OBJECT

public:
    explicit RdpCertificateCheck(QObject* parent = nullptr);
    ~RdpCertificateCheck() override;

    // Sets the library's certificate callbacks of the instance.
    static void install(freerdp* instance);

    // Connecting thread: 1 to accept and store the certificate, 0 to refuse.
    DWORD ask(const QString& host, quint16 port, const QString& fingerprint);
    // Connecting thread: always refuses.
    DWORD refuseChanged(const QString& host, quint16 port, const QString& oldFingerprint,
                        const QString& newFingerprint);
    // GUI thread: an open question is answered with a refusal, later ones at once.
    void cancel();
    // The connection failed because the user or the changed-certificate rule said no.
    bool refused() const { return m_refused; }

private slots:
    void showQuestion(const QString& host, quint16 port, const QString& fingerprint);
    void showChanged(const QString& host, quint16 port, const QString& oldFingerprint,
                     const QString& newFingerprint);

private:
    void answer(DWORD value);

    QSemaphore m_answered;
    std::atomic<DWORD> m_answer{0};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_refused{false};
    bool m_pending = false;
    QPointer<QMessageBox> m_box;
};
