#include "emulator/certificate.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace orv::emulator {
namespace {

Error certError(const std::string& what) { return Error{"EmulatorCertificate", 1, what}; }

struct Owned {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  ~Owned() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

// Written with mode 0600: the folder may sit in a shared temporary directory.
template <class Write>
bool writePem(const std::string& path, Write write) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  FILE* f = ::fdopen(fd, "w");
  if (f == nullptr) {
    ::close(fd);
    return false;
  }
  const bool ok = write(f) == 1;
  return std::fclose(f) == 0 && ok;
}

bool addExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
  if (ext == nullptr) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

}  // namespace

Result<std::unique_ptr<SelfSignedCertificate>> SelfSignedCertificate::create(
    const std::vector<std::string>& subjectAltNames, const std::string& commonName) {
  std::error_code ec;
  std::string templ = (std::filesystem::temp_directory_path(ec) / "orv-emulator-XXXXXX").string();
  if (ec || ::mkdtemp(templ.data()) == nullptr) return certError("cannot make a temporary folder");
  std::unique_ptr<SelfSignedCertificate> self(new SelfSignedCertificate());
  self->folder_ = templ;
  self->certFile_ = templ + "/ca.pem";
  self->keyFile_ = templ + "/key.pem";

  Owned o;
  o.key = EVP_EC_gen("P-256");
  o.cert = X509_new();
  if (o.key == nullptr || o.cert == nullptr) return certError("cannot make a key");
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) return certError("no random serial number");
  serial[0] &= 0x7F;  // a positive serial
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(o.cert));
  BN_free(bn);
  X509_set_version(o.cert, 2);
  X509_gmtime_adj(X509_getm_notBefore(o.cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(o.cert), 365L * 24 * 3600);
  X509_set_pubkey(o.cert, o.key);
  X509_NAME* name = X509_get_subject_name(o.cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("orv emulator"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(o.cert, name);

  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, o.cert, o.cert, nullptr, nullptr, 0);
  std::string san;
  for (const auto& entry : subjectAltNames) san += (san.empty() ? "" : ",") + entry;
  const std::pair<int, std::string> extensions[] = {
      {NID_basic_constraints, "critical,CA:TRUE"},
      {NID_key_usage, "critical,digitalSignature,keyCertSign"},
      {NID_ext_key_usage, "serverAuth"},
      {NID_subject_key_identifier, "hash"},
      {NID_subject_alt_name, san}};
  for (const auto& [nid, value] : extensions) {
    if (!addExtension(o.cert, &ctx, nid, value)) return certError("bad extension " + value);
  }
  if (X509_sign(o.cert, o.key, EVP_sha256()) <= 0) return certError("cannot sign");
  if (!writePem(self->certFile_, [&](FILE* f) { return PEM_write_X509(f, o.cert); }) ||
      !writePem(self->keyFile_, [&](FILE* f) {
        return PEM_write_PrivateKey(f, o.key, nullptr, nullptr, 0, nullptr, nullptr);
      })) {
    return certError("cannot write " + templ);
  }
  return self;
}

SelfSignedCertificate::~SelfSignedCertificate() {
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

}  // namespace orv::emulator
