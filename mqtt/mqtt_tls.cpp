#include "mqtt/mqtt_tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

#include "report/escaped_text.h"

// The PEM text of a file, to read from.
static BIO *pemReader(const std::string &pem)
{
    return BIO_new_mem_buf(pem.data(), int(pem.size()));
}

// OpenSSL's reason for the last failure, and the queue cleared.
static std::string openSslReason()
{
    const char *reason = ERR_reason_error_string(ERR_peek_last_error());
    ERR_clear_error();
    return reason ? reason : "unknown error";
}

// Every certificate of the text, as a CA file is read ("TRUSTED
// CERTIFICATE" ones too); nullptr when one cannot be read.
static STACK_OF(X509_INFO) *readCertificates(const std::string &pem)
{
    BIO *in = pemReader(pem);
    STACK_OF(X509_INFO) *all = PEM_X509_INFO_read_bio(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    return all;
}

std::string mqttTlsCertificatesProblem(const std::string &pem)
{
    ERR_clear_error();
    STACK_OF(X509_INFO) *all = readCertificates(pem);
    if (all == nullptr)
        return "its certificates cannot be read: " + openSslReason();
    int certificates = 0;
    for (int i = 0; i < sk_X509_INFO_num(all); ++i)
        certificates += sk_X509_INFO_value(all, i)->x509 != nullptr;
    sk_X509_INFO_pop_free(all, X509_INFO_free);
    return certificates > 0 ? "" : "it holds no certificate in PEM";
}

// Asked for a password: the key is encrypted. None is given.
static int passwordAsked(char *, int, int, void *asked)
{
    *static_cast<bool *>(asked) = true;
    return -1;
}

static EVP_PKEY *readKey(const std::string &pem, bool *encrypted)
{
    BIO *in = pemReader(pem);
    EVP_PKEY *key = PEM_read_bio_PrivateKey(in, nullptr, passwordAsked, encrypted);
    BIO_free(in);
    return key;
}

// Whether one of the PEM blocks of the text is a private key, of any kind.
static bool holdsPrivateKey(const std::string &pem)
{
    BIO *in = pemReader(pem);
    bool found = false;
    char *name = nullptr, *header = nullptr;
    unsigned char *data = nullptr;
    long length = 0;
    while (!found && PEM_read_bio(in, &name, &header, &data, &length) == 1) {
        found = strstr(name, "PRIVATE KEY") != nullptr;
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
    BIO_free(in);
    ERR_clear_error();
    return found;
}

std::string mqttTlsKeyProblem(const std::string &pem)
{
    ERR_clear_error();
    if (!holdsPrivateKey(pem))
        return "it holds no private key in PEM";
    bool encrypted = false;
    EVP_PKEY *key = readKey(pem, &encrypted);
    if (key != nullptr) {
        EVP_PKEY_free(key);
        return "";
    }
    if (encrypted) {
        ERR_clear_error();
        return "the key is encrypted; give it unencrypted, kept from others by its file's mode or a credential";
    }
    return "its private key cannot be read: " + openSslReason();
}

static X509 *readFirstCertificate(BIO *in)
{
    return PEM_read_bio_X509_AUX(in, nullptr, nullptr, nullptr);
}

bool mqttTlsKeyFits(const std::string &certificatePem, const std::string &keyPem)
{
    BIO *in = pemReader(certificatePem);
    X509 *certificate = readFirstCertificate(in);
    BIO_free(in);
    bool encrypted = false;
    EVP_PKEY *key = readKey(keyPem, &encrypted);
    bool fits = certificate && key && X509_check_private_key(certificate, key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return fits;
}

static TlsWatch *watchOf(const SSL *ssl)
{
    return static_cast<TlsWatch *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
}

// A certificate's subject as one line, its control bytes escaped: it comes
// from the network.
static std::string subjectOf(X509 *certificate)
{
    BIO *out = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char *text = nullptr;
    long length = BIO_get_mem_data(out, &text);
    std::string subject = escapedText(text, size_t(length));
    BIO_free(out);
    return subject;
}

static std::string asnText(const ASN1_STRING *text)
{
    return escapedText(reinterpret_cast<const char *>(ASN1_STRING_get0_data(text)), size_t(ASN1_STRING_length(text)));
}

// The names that a certificate is for: its subjectAltName DNS names and
// addresses, and, when it has no DNS name, its CN, which is then checked too.
static std::vector<std::string> namesOf(X509 *certificate)
{
    std::vector<std::string> names;
    bool dnsName = false;
    auto *alternatives = static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(alternatives, i);
        if (name->type == GEN_DNS) {
            names.push_back(asnText(name->d.dNSName));
            dnsName = true;
        } else if (name->type == GEN_IPADD) {
            int length = ASN1_STRING_length(name->d.iPAddress);
            char address[INET6_ADDRSTRLEN] = "";
            if ((length == 4 || length == 16) &&
                inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(name->d.iPAddress), address,
                          sizeof address))
                names.push_back(address);
        }
    }
    GENERAL_NAMES_free(alternatives);
    X509_NAME *subject = X509_get_subject_name(certificate);
    int common = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (!dnsName && common >= 0)
        names.push_back(asnText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, common))));
    return names;
}

// Takes OpenSSL's verdict on each certificate of the broker's chain, and
// keeps the first failure with what it concerns.
static int verifyBroker(int ok, X509_STORE_CTX *store)
{
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsWatch *watch = watchOf(ssl);
    X509 *broker = X509_STORE_CTX_get0_cert(store);
    int error = X509_STORE_CTX_get_error(store);
    // An address written as text in a DNS name or the CN passed the check
    // that libmosquitto made before: brokers set up for it keep working.
    if (!ok && error == X509_V_ERR_IP_ADDRESS_MISMATCH &&
        X509_check_host(broker, watch->host.c_str(), 0, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    if (!ok && watch->seen.verifyError == X509_V_OK) {
        watch->seen.verifyError = error;
        watch->seen.verifyDepth = X509_STORE_CTX_get_error_depth(store);
        watch->seen.subject = subjectOf(broker);
        if (X509 *fault = X509_STORE_CTX_get_current_cert(store))
            watch->seen.faultSubject = subjectOf(fault);
        watch->seen.names = namesOf(broker);
    }
    return ok;
}

static void onHandshake(const SSL *ssl, int where, int value)
{
    TlsWatch *watch = watchOf(ssl);
    if (where & SSL_CB_HANDSHAKE_START)
        watch->seen.handshakeStarted = true;
    if (where & SSL_CB_HANDSHAKE_DONE)
        watch->seen.handshakeDone = true;
    if ((where & SSL_CB_READ_ALERT) == SSL_CB_READ_ALERT && (value >> 8) == SSL3_AL_FATAL && watch->seen.alert < 0)
        watch->seen.alert = value & 0xff;
}

// A CertificateRequest among the broker's handshake messages.
static void onMessage(int written, int, int type, const void *message, size_t length, SSL *, void *data)
{
    if (!written && type == SSL3_RT_HANDSHAKE && length > 0 &&
        *static_cast<const unsigned char *>(message) == SSL3_MT_CERTIFICATE_REQUEST)
        static_cast<TlsWatch *>(data)->seen.certificateAsked = true;
}

static bool isAddress(const std::string &host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The CA certificates of --mqtt-ca, as a CA file is loaded.
static bool addAuthorities(SSL_CTX *context, const std::string &pem)
{
    STACK_OF(X509_INFO) *all = readCertificates(pem);
    X509_STORE *store = SSL_CTX_get_cert_store(context);
    bool added = all != nullptr;
    for (int i = 0; added && i < sk_X509_INFO_num(all); ++i)
        if (X509 *certificate = sk_X509_INFO_value(all, i)->x509)
            added = X509_STORE_add_cert(store, certificate) == 1;
    sk_X509_INFO_pop_free(all, X509_INFO_free);
    return added;
}

// The client certificate, the intermediates after it, and its key.
static bool useClientCertificate(SSL_CTX *context, const std::string &certificatePem, const std::string &keyPem)
{
    BIO *in = pemReader(certificatePem);
    X509 *certificate = readFirstCertificate(in);
    bool used = certificate && SSL_CTX_use_certificate(context, certificate) == 1;
    X509_free(certificate);
    while (used) {
        X509 *intermediate = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
        if (intermediate == nullptr)
            break;
        used = SSL_CTX_add0_chain_cert(context, intermediate) == 1;
    }
    BIO_free(in);
    ERR_clear_error();  // the end of the file
    bool encrypted = false;
    EVP_PKEY *key = used ? readKey(keyPem, &encrypted) : nullptr;
    used = key && SSL_CTX_use_PrivateKey(context, key) == 1 && SSL_CTX_check_private_key(context) == 1;
    EVP_PKEY_free(key);
    return used;
}

ssl_ctx_st *mqttTlsContext(const MqttSettings &settings, TlsWatch *watch, std::string *problem)
{
    ERR_clear_error();
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        *problem = openSslReason();
        return nullptr;
    }
    // As libmosquitto sets up its own: TLS 1.2 or later, small buffers.
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_app_data(context, watch);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, verifyBroker);
    SSL_CTX_set_info_callback(context, onHandshake);
    SSL_CTX_set_msg_callback(context, onMessage);
    SSL_CTX_set_msg_callback_arg(context, watch);
    X509_VERIFY_PARAM *check = SSL_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool made = isAddress(watch->host) ? X509_VERIFY_PARAM_set1_ip_asc(check, watch->host.c_str()) == 1
                                       : X509_VERIFY_PARAM_set1_host(check, watch->host.c_str(), 0) == 1;
    if (made)
        made = settings.caFile ? addAuthorities(context, settings.caPem) : SSL_CTX_set_default_verify_paths(context) == 1;
    if (made && settings.certFile)
        made = useClientCertificate(context, settings.certPem, settings.keyPem);
    if (!made) {
        *problem = openSslReason();
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

// Alerts that say the broker would not take our certificate.
static bool aboutOurCertificate(int alert)
{
    switch (alert) {
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
    case SSL_AD_CERTIFICATE_REVOKED:
    case SSL_AD_CERTIFICATE_EXPIRED:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_UNKNOWN_CA:
    case SSL_AD_ACCESS_DENIED:
    case SSL_AD_CERTIFICATE_REQUIRED:
        return true;
    default:
        return false;
    }
}

static std::string alertName(int alert)
{
    // OpenSSL 3.0 has no text of its own for TLS 1.3's alert 116.
    if (alert == SSL_AD_CERTIFICATE_REQUIRED)
        return "certificate required";
    std::string name = SSL_alert_desc_string_long(SSL3_AL_FATAL << 8 | alert);
    return name == "unknown" ? "alert " + std::to_string(alert) : name;
}

static std::string listed(const std::vector<std::string> &names)
{
    std::string list;
    const size_t shown = std::min<size_t>(names.size(), 8);
    for (size_t i = 0; i < shown; ++i)
        list += (i ? ", " : "") + names[i];
    if (names.size() > shown)
        list += " and " + std::to_string(names.size() - shown) + " more";
    return list;
}

std::string mqttTlsFailure(const TlsSeen &seen, const MqttSettings &settings, bool timedOut, bool connackCame)
{
    const std::string port = std::to_string(settings.port);
    const std::string certificate = settings.certFile ? escapedText(settings.certFile) : "";
    if (seen.verifyError == X509_V_ERR_HOSTNAME_MISMATCH || seen.verifyError == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return seen.names.empty() ? "its certificate is for no name, not " + settings.host
                                  : "its certificate is for " + listed(seen.names) + ", not " + settings.host;
    if (seen.verifyError != X509_V_OK) {
        std::string against = settings.caFile ? "--mqtt-ca " + escapedText(settings.caFile)
                                              : "the system's CA store";
        std::string fault = seen.verifyDepth > 0 ? " (of " + seen.faultSubject + " in its chain)" : "";
        return "its certificate (" + seen.subject + ") does not verify against " + against + ": " +
               X509_verify_cert_error_string(seen.verifyError) + fault;
    }
    if (seen.alert >= 0) {
        std::string alert = "TLS alert \"" + alertName(seen.alert) + "\"";
        if (!aboutOurCertificate(seen.alert))
            return "the broker ended the TLS handshake (" + alert + ")";
        if (settings.certFile)
            return "the broker refused the client certificate --mqtt-cert " + certificate + " (" + alert + ")";
        return "the broker asks for a client certificate (" + alert + "): give --mqtt-cert and --mqtt-key";
    }
    if (seen.handshakeDone && !connackCame && seen.certificateAsked) {
        // In TLS 1.3 the broker judges our certificate after the handshake,
        // and its alert may be lost with the connection it closes.
        if (settings.certFile)
            return "the broker closed the connection after the TLS handshake: it most likely refused the client "
                   "certificate --mqtt-cert " + certificate;
        return "the broker asks for a client certificate: give --mqtt-cert and --mqtt-key";
    }
    if (seen.handshakeStarted && !seen.handshakeDone)
        return timedOut ? "no answer to the TLS handshake within 30 s"
                        : "no TLS at port " + port + ": what answered there is not TLS; " + port +
                              " may be a plain MQTT listener (mqtt://)";
    return "";
}
