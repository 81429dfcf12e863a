#include "TlsCertificate.h"

#include <freerdp/settings.h>

#include <QFile>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <memory>

namespace {

template<typename T, void (*Free)(T*)>
struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;

// The certificate outlives any session; clients ignore or pin it anyway.
constexpr long ValiditySeconds = 20L * 365 * 24 * 3600;

} // namespace

bool TlsCertificate::make(const QString& keyFile, QString* error)
{
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024) {
        *error = QStringLiteral("cannot read the key %1").arg(keyFile);
        return false;
    }
    const QByteArray keyPem = file.readAll();
    Bio in(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    Key key(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
    Certificate cert(X509_new());
    unsigned char serial[8];
    bool ok = key && cert && RAND_bytes(serial, sizeof(serial)) == 1;
    if (ok) {
        serial[0] &= 0x7F; // a positive serial number
        BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
        ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
        BN_free(number);
    }
    if (ok) {
        X509_NAME* name = X509_get_subject_name(cert.get());
        ok = X509_set_version(cert.get(), 2)
            && X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600)
            && X509_gmtime_adj(X509_getm_notAfter(cert.get()), ValiditySeconds)
            && X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                          reinterpret_cast<const unsigned char*>("Zentu session"), -1, -1, 0)
            && X509_set_issuer_name(cert.get(), name) && X509_set_pubkey(cert.get(), key.get())
            && X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    }
    Bio out(BIO_new(BIO_s_mem()));
    ok = ok && out && PEM_write_bio_X509(out.get(), cert.get());
    if (!ok) {
        *error = QStringLiteral("cannot make a certificate for the key %1").arg(keyFile);
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    m_certificate = QByteArray(data, int(length));
    m_key = keyPem;
    return true;
}

bool TlsCertificate::offerTo(rdp_settings* settings) const
{
    return freerdp_settings_set_string(settings, FreeRDP_CertificateContent, m_certificate.constData())
        && freerdp_settings_set_string(settings, FreeRDP_PrivateKeyContent, m_key.constData())
        && freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE);
}
