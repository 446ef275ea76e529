#include "mqtt/mqtt_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool mqttParseUrl(const char *text, MqttSettings *settings)
{
    std::string url = text;
    size_t rest = 0;
    if (url.rfind("mqtt://", 0) == 0) {
        settings->tls = false;
        rest = 7;
    } else if (url.rfind("mqtts://", 0) == 0) {
        settings->tls = true;
        rest = 8;
    } else {
        return false;
    }
    std::string authority = url.substr(rest);
    if (!authority.empty() && authority.back() == '/')  // mqtt://host/ as people write it
        authority.pop_back();
    if (authority.find_first_of("/?# \t\r\n") != std::string::npos)
        return false;
    size_t at = authority.rfind('@');
    std::string user = at == std::string::npos ? "" : authority.substr(0, at);
    std::string hostPort = at == std::string::npos ? authority : authority.substr(at + 1);
    if (at != std::string::npos && (user.empty() || user.find(':') != std::string::npos))
        return false;  // a password in the URL would be seen by everyone

    // HOST, [IPV6] or either with :PORT.
    size_t hostEnd = hostPort.find(':');
    std::string host = hostPort.substr(0, hostEnd);
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string::npos)
            return false;
        host = hostPort.substr(1, close - 1);
        hostEnd = close + 1 < hostPort.size() ? close + 1 : std::string::npos;
        if (hostEnd != std::string::npos && hostPort[hostEnd] != ':')
            return false;
    }
    if (host.empty() || host.find_first_of("[]@") != std::string::npos)
        return false;
    long number = settings->tls ? 8883 : 1883;
    if (hostEnd != std::string::npos) {
        std::string port = hostPort.substr(hostEnd + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        number = strtol(port.c_str(), nullptr, 10);
        if (number < 1 || number > 65535)
            return false;
    }
    settings->url = text;
    settings->host = host;
    settings->port = int(number);
    settings->user = user;
    return true;
}

bool mqttTopicValid(const char *text)
{
    return *text != '\0' && strpbrk(text, "+#") == nullptr;
}

bool mqttReadPassword(const char *file, std::string *password)
{
    FILE *in = fopen(file, "re");
    if (in == nullptr)
        return false;
    std::string line;
    int c = 0;
    while ((c = getc(in)) != EOF && c != '\n')
        line += char(c);
    bool failed = ferror(in);
    fclose(in);
    if (failed) {
        errno = EIO;
        return false;
    }
    *password = line;
    return true;
}

bool mqttReadFile(const char *file, std::string *text)
{
    FILE *in = fopen(file, "re");
    if (in == nullptr)
        return false;
    std::string all;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0 && all.size() <= (1u << 20))
        all.append(buffer, n);
    bool failed = ferror(in);
    fclose(in);
    if (failed || all.size() > (1u << 20)) {
        errno = failed ? EIO : EFBIG;
        return false;
    }
    *text = all;
    return true;
}
