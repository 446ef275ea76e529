#pragma once

#include <string>
#include <vector>

#include "mqtt/mqtt_settings.h"

struct ssl_ctx_st;  // OpenSSL's SSL_CTX

// TLS for the broker link, with OpenSSL, which libmosquitto uses too: the
// files of --mqtt-ca, --mqtt-cert and --mqtt-key checked when the options
// are taken, the context of the link, and what a failed attempt showed.

// What is wrong with the PEM text of a file, or "" when nothing is: CA
// certificates, or a client certificate with its intermediates.
std::string mqttTlsCertificatesProblem(const std::string &pem);
// An unencrypted private key.
std::string mqttTlsKeyProblem(const std::string &pem);
// A key that belongs to the first certificate of certificatePem.
bool mqttTlsKeyFits(const std::string &certificatePem, const std::string &keyPem);

// What the TLS handshakes of one attempt to connect showed.
struct TlsSeen {
    bool handshakeStarted = false;
    bool handshakeDone = false;
    bool certificateAsked = false;   // the broker asked for a client certificate
    int verifyError = 0;             // X509_V_OK, or why the broker's certificate did not verify
    int verifyDepth = 0;             // of the certificate at fault: 0 is the broker's own
    std::string subject;             // of the broker's certificate
    std::string faultSubject;        // of the certificate at fault
    std::vector<std::string> names;  // that the broker's certificate is for
    int alert = -1;                  // a fatal TLS alert from the broker, or -1
};

// What the link's context reports into; touched by the link's thread only.
struct TlsWatch {
    std::string host;  // the broker's name or address, as the URL gives it
    TlsSeen seen;      // of the attempt under way; the link clears it before each
};

// A client context that always verifies the broker: its chain against the
// CAs of --mqtt-ca or the system's store, and its name against watch->host;
// with the client certificate and key when given. Each handshake records
// into *watch. nullptr, with *problem, when it cannot be made.
ssl_ctx_st *mqttTlsContext(const MqttSettings &settings, TlsWatch *watch, std::string *problem);

// Why an attempt failed, in the words of what TLS showed, or "" when TLS was
// not at fault. timedOut: nothing came for the keepalive's 30 s; connackCame:
// the broker answered the MQTT connection.
std::string mqttTlsFailure(const TlsSeen &seen, const MqttSettings &settings, bool timedOut, bool connackCame);
