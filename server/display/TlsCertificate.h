#pragma once

#include <QByteArray>
#include <QString>

struct rdp_settings;

// A self-signed certificate for the session's own RSA key, so that clients
// joining directly can use TLS. Clients through the SSH forward keep RDP
// security with the same key.
class TlsCertificate
{
public:
    bool make(const QString& keyFile, QString* error);
    bool isValid() const { return !m_certificate.isEmpty(); }
    QByteArray certificatePem() const { return m_certificate; }
    // Offers TLS besides RDP security; each client picks by what it asks for.
    bool offerTo(rdp_settings* settings) const;

private:
    QByteArray m_certificate;
    QByteArray m_key;
};
