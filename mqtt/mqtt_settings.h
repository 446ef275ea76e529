#pragma once

#include <string>

// Where and as whom the readings are published: --mqtt URL and the options
// that go with it.
struct MqttSettings {
    const char *url = nullptr;           // --mqtt; nullptr without it
    bool tls = false;                    // mqtts://
    std::string host;
    int port = 0;
    std::string user;                    // "" for none
    bool hasPassword = false;
    std::string password;                // from a file only, never the command line
    const char *caFile = nullptr;        // --mqtt-ca; the system's CA store without it
    const char *certFile = nullptr;      // --mqtt-cert: a client certificate, with mqtts://
    const char *keyFile = nullptr;       // --mqtt-key: its private key
    std::string caPem, certPem, keyPem;  // their text, read once when the options are taken
    const char *passwordFile = nullptr;  // --mqtt-password-file
    const char *topic = nullptr;         // --mqtt-topic; the default base topic without it
};

// Reads mqtt://[USER@]HOST[:PORT] or mqtts://[USER@]HOST[:PORT] (ports 1883
// and 8883 by default; an IPv6 address in brackets) into *settings. False
// when text is not of that form or the port is not 1 to 65535.
bool mqttParseUrl(const char *text, MqttSettings *settings);

// Whether text may be a base topic: not empty, no wildcard + or #.
bool mqttTopicValid(const char *text);

// The first line of file, without its newline, into *password. False
// (errno set) when the file cannot be read.
bool mqttReadPassword(const char *file, std::string *password);

// The whole of a file of certificates or a key, up to 1 MiB, into *text.
// False (errno set) when it cannot be read.
bool mqttReadFile(const char *file, std::string *text);
