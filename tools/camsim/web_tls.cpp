#include "web_tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace lanrove::camsim {

std::unique_ptr<TlsIdentity> TlsIdentity::generate(const std::string& commonName) {
    std::unique_ptr<TlsIdentity> id(new TlsIdentity());
    id->m_pKey = EVP_EC_gen("P-256");
    id->m_pCert = X509_new();
    if (id->m_pKey == nullptr || id->m_pCert == nullptr) return nullptr;
    X509* x = id->m_pCert;
    bool ok = X509_set_version(x, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(x), 1) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(x), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(x), 10L * 365 * 24 * 3600) != nullptr &&
              X509_set_pubkey(x, id->m_pKey) == 1;
    X509_NAME* name = X509_get_subject_name(x);
    ok = ok && name != nullptr &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                    -1, 0) == 1 &&
         X509_set_issuer_name(x, name) == 1 && X509_sign(x, id->m_pKey, EVP_sha256()) > 0;
    if (!ok) return nullptr;
    return id;
}

TlsIdentity::~TlsIdentity() {
    if (m_pCert != nullptr) X509_free(m_pCert);
    if (m_pKey != nullptr) EVP_PKEY_free(m_pKey);
}

std::string TlsIdentity::certificatePem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) return {};
    std::string pem;
    if (PEM_write_bio_X509(bio, m_pCert) == 1) {
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        if (n > 0) pem.assign(data, static_cast<std::size_t>(n));
    }
    BIO_free(bio);
    return pem;
}

}  // namespace lanrove::camsim
