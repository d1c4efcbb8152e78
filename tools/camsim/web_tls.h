#pragma once
// The certificates of the simulated HTTPS cameras. By default every camera shows one built-in
// identity, the same in every run, as a real camera keeps its certificate across restarts
// (so that pins made in one lab run hold in the next). The fault "newcert" gives a camera a
// key and certificate made at start instead (a camera that was reset, or an impostor), and
// "legacytls" the kind the oldest firmware has: TLS 1.0 only, RSA 1024 bits, signed with
// SHA-1, also made at start.

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
    // A 1024-bit RSA key and a SHA-1-signed certificate for `commonName`.
    static std::unique_ptr<TlsIdentity> generateLegacy(const std::string& commonName);
    // The built-in P-256 identity.
    static std::unique_ptr<TlsIdentity> builtIn();
    ~TlsIdentity();
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;

    x509_st* certificate() const { return m_pCert; }
    evp_pkey_st* key() const { return m_pKey; }
    std::string certificatePem() const;

  private:
    TlsIdentity() = default;
    static std::unique_ptr<TlsIdentity> make(evp_pkey_st* key, const std::string& commonName,
                                             bool bSha1);
    x509_st* m_pCert = nullptr;
    evp_pkey_st* m_pKey = nullptr;
};

}  // namespace lanrove::camsim
