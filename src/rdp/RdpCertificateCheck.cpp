#include "RdpCertificateCheck.h"

#include "FailureBox.h"
#include "RdpClientContext.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

RdpCertificateCheck* checkOf(freerdp* instance)
{
    return reinterpret_cast<RdpClientContext*>(instance->context)->certificates;
}

DWORD RdpInstanceVerifyCertificateEx(freerdp* instance, const char* host, UINT16 port, const char*, const char*,
                                     const char*, const char* fingerprint, DWORD flags)
{
    RdpCertificateCheck* check = checkOf(instance);
    if (!check || (flags & VERIFY_CERT_FLAG_GATEWAY))
        return 0;
    return check->ask(QString::fromUtf8(host), port, QString::fromUtf8(fingerprint));
}

DWORD RdpInstanceVerifyChangedCertificateEx(freerdp* instance, const char* host, UINT16 port, const char*,
                                            const char*, const char*, const char* newFingerprint, const char*,
                                            const char*, const char* oldFingerprint, DWORD)
{
    RdpCertificateCheck* check = checkOf(instance);
    if (!check)
        return 0;
    return check->refuseChanged(QString::fromUtf8(host), port, QString::fromUtf8(oldFingerprint),
                                QString::fromUtf8(newFingerprint));
}

} // namespace

RdpCertificateCheck::RdpCertificateCheck(QObject* parent)
    : QObject(parent)
{
}

RdpCertificateCheck::~RdpCertificateCheck()
{
    cancel();
    delete m_box;
}

void RdpCertificateCheck::install(freerdp* instance)
{
    instance->VerifyCertificateEx = RdpInstanceVerifyCertificateEx;
    instance->VerifyChangedCertificateEx = RdpInstanceVerifyChangedCertificateEx;
}

DWORD RdpCertificateCheck::ask(const QString& host, quint16 port, const QString& fingerprint)
{
    if (m_cancelled)
        return 0;
    QMetaObject::invokeMethod(this, "showQuestion", Qt::QueuedConnection, Q_ARG(QString, host), Q_ARG(quint16, port),
                              Q_ARG(QString, fingerprint));
    m_answered.acquire();
    const DWORD value = m_cancelled ? 0 : m_answer.load();
    if (value == 0)
        m_refused = true;
    return value;
}

DWORD RdpCertificateCheck::refuseChanged(const QString& host, quint16 port, const QString& oldFingerprint,
                                         const QString& newFingerprint)
{
    m_refused = true;
    QMetaObject::invokeMethod(this, "showChanged", Qt::QueuedConnection, Q_ARG(QString, host), Q_ARG(quint16, port),
                              Q_ARG(QString, oldFingerprint), Q_ARG(QString, newFingerprint));
    return 0;
}

void RdpCertificateCheck::cancel()
{
    if (m_cancelled.exchange(true))
        return;
    // The connecting thread may be waiting, or about to wait, for an answer.
    m_answered.release();
    if (m_box)
        m_box->close();
}

void RdpCertificateCheck::answer(DWORD value)
{
    if (!m_pending)
        return;
    m_pending = false;
    m_answer = value;
    m_answered.release();
}

void RdpCertificateCheck::showQuestion(const QString& host, quint16 port, const QString& fingerprint)
{
    if (m_cancelled)
        return;
    m_pending = true;
    auto* box = new QMessageBox(QMessageBox::Question, tr("%1 Certificate").arg(QApplication::applicationName()),
                                tr("The certificate of %1:%2 is not signed by an authority this system trusts."
                                   "<br><br>Fingerprint: %3<br><br>Connect, and accept this certificate for this "
                                   "host from now on?")
                                    .arg(host.toHtmlEscaped())
                                    .arg(port)
                                    .arg(fingerprint.toHtmlEscaped()),
                                QMessageBox::NoButton);
    box->setObjectName(QStringLiteral("CertificateQuestion"));
    box->setTextFormat(Qt::RichText);
    QPushButton* accept = box->addButton(tr("Accept"), QMessageBox::AcceptRole);
    accept->setObjectName(QStringLiteral("AcceptButton"));
    QPushButton* refuse = box->addButton(tr("Refuse"), QMessageBox::RejectRole);
    refuse->setObjectName(QStringLiteral("RefuseButton"));
    box->setDefaultButton(refuse);
    box->setEscapeButton(refuse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this, box, accept](int) { answer(box->clickedButton() == accept ? 1 : 0); });
    m_box = box;
    box->show();
}

void RdpCertificateCheck::showChanged(const QString& host, quint16 port, const QString& oldFingerprint,
                                      const QString& newFingerprint)
{
    showFailureBox(tr("The certificate of %1:%2 has changed.").arg(host).arg(port),
                   tr("The connection was refused: someone may be posing as the server. The certificate "
                      "accepted before has the fingerprint %1, the one offered now %2.")
                       .arg(oldFingerprint, newFingerprint));
}
