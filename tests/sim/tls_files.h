// Certificates and keys made at test time with Debian's openssl, in a
// directory of their own: two CAs, a broker's certificate for "localhost"
// alone from the first, client certificates (CN=tempswitch) from each, and
// keys in the forms that the program must refuse.
#pragma once

#include <string>

namespace sim {

class TlsFiles {
public:
    TlsFiles();
    ~TlsFiles();
    TlsFiles(const TlsFiles &) = delete;
    TlsFiles &operator=(const TlsFiles &) = delete;

    // The path of a file: "ca.crt", "other-ca.crt", "broker.crt", "broker.key",
    // "client.crt", "client.key", "other-client.crt", "other-client.key",
    // "client-chain.crt" (client.crt, then ca.crt), "encrypted.key".
    std::string path(const std::string &name) const { return directory_ + "/" + name; }

private:
    std::string directory_;
};

}  // namespace sim
