#include "tls_files.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace sim {

TlsFiles::TlsFiles()
{
    char pattern[] = "/tmp/tempswitch-tls-XXXXXX";
    directory_ = mkdtemp(pattern);
    // One shell script, so that a failing step names itself in the exception.
    const std::string script =
        "set -e; cd '" + directory_ + "'\n"
        "ca() { openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj \"/CN=$1\" -keyout $2.key -out $2.crt; }\n"
        "signed() { openssl req -newkey rsa:2048 -nodes -subj \"/CN=$1\" -keyout $2.key -out $2.csr\n"
        "  openssl x509 -req -in $2.csr -CA $3.crt -CAkey $3.key -CAcreateserial -days 30 -out $2.crt $4; }\n"
        "ca 'Test CA' ca; ca 'Other CA' other-ca\n"
        "printf 'subjectAltName=DNS:localhost\\n' > broker.ext\n"
        "signed localhost broker ca '-extfile broker.ext'\n"
        "signed tempswitch client ca; signed tempswitch other-client other-ca\n"
        "cat client.crt ca.crt > client-chain.crt\n"
        "openssl pkey -in client.key -aes256 -passout pass:secret -out encrypted.key\n";
    if (std::system(("(" + script + ") > '" + directory_ + "/openssl.log' 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl could not make the test certificates: see " + directory_ + "/openssl.log");
}

TlsFiles::~TlsFiles()
{
    std::error_code ec;
    std::filesystem::remove_all(directory_, ec);
}

}  // namespace sim
