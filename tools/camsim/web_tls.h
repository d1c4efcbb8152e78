#pragma once
// The certificate of the simulated HTTPS cameras: a key and a self-signed certificate made at
// start, as a camera makes its own.

#include <memory>
#include <string>

struct x509_st;
struct evp_pkey_st;

namespace lanrove::camsim {

class TlsIdentity {
  public:
    // A P-256 key and a certificate for `commonName`, valid from an hour ago for ten years.
    // Null when OpenSSL fails.
    static std::unique_ptr<TlsIdentity> generate(const std::string& commonName);
    ~TlsIdentity();
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;

    x509_st* certificate() const { return m_pCert; }
    evp_pkey_st* key() const { return m_pKey; }
    std::string certificatePem() const;

  private:
    TlsIdentity() = default;
    x509_st* m_pCert = nullptr;
    evp_pkey_st* m_pKey = nullptr;
};

}  // namespace lanrove::camsim
