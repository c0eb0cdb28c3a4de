// A self-signed TLS certificate (its own CA) and key, written as PEM files into a fresh
// temporary folder that is removed with the object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "orv/result.h"

namespace orv::emulator {

class SelfSignedCertificate {
 public:
  // `subjectAltNames` in OpenSSL's form, e.g. {"IP:127.0.0.1", "DNS:localhost"}.
  static Result<std::unique_ptr<SelfSignedCertificate>> create(
      const std::vector<std::string>& subjectAltNames, const std::string& commonName);
  ~SelfSignedCertificate();
  SelfSignedCertificate(const SelfSignedCertificate&) = delete;
  SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

  const std::string& folder() const { return folder_; }
  // The certificate, which is also the CA file a client trusts.
  const std::string& certFile() const { return certFile_; }
  const std::string& keyFile() const { return keyFile_; }

 private:
  SelfSignedCertificate() = default;
  std::string folder_, certFile_, keyFile_;
};

}  // namespace orv::emulator
