#include "monitor/mqtt_messages.h"

#include <cctype>
#include <cstdio>

std::string mqttDefaultBase(const std::string &hostname, int limitHalfDegrees, const char *port)
{
    return "tempswitch/" + hostname + "/" + (port ? std::string(port) : std::to_string(limitHalfDegrees / 2));
}

std::string mqttAvailabilityTopic(const std::string &base)
{
    return base + "/availability";
}

std::vector<MqttMessage> mqttCycleMessages(const std::string &base, const CycleFacts &facts)
{
    std::string temperature = std::to_string(facts.reading >> 1) + (facts.reading & 1 ? ".5" : "");
    return {{base + "/temperature", temperature},
            {base + "/output", facts.level == 255 ? "ON" : "OFF"},
            {base + "/limit", std::to_string(facts.limit / 2)}};
}

// A JSON string: quotes, backslashes and control bytes escaped.
static std::string jsonString(const std::string &text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += char(c);
        }
    }
    return quoted + "\"";
}

// Home Assistant takes only letters, digits, _ and - in a discovery topic's
// node and object ids.
static std::string nodeId(const std::string &base)
{
    std::string id;
    for (unsigned char c : base)
        id += isalnum(c) || c == '-' ? char(c) : '_';
    return id;
}

static MqttMessage entity(const std::string &base, const char *component, const char *object,
                          const std::string &name, const std::string &rest, const char *version)
{
    const std::string node = nodeId(base);
    std::string config = "{\"name\":" + jsonString(name) +
                         ",\"unique_id\":" + jsonString(node + "_" + object) +
                         ",\"object_id\":" + jsonString(node + "_" + object) +
                         ",\"state_topic\":" + jsonString(base + "/" + object) +
                         ",\"availability_topic\":" + jsonString(mqttAvailabilityTopic(base)) + rest +
                         ",\"device\":{\"identifiers\":[" + jsonString(node) + "],\"name\":" +
                         jsonString("tempswitch " + base.substr(base.find('/') + 1)) +
                         ",\"model\":\"USB thermometer 1384:8888\",\"manufacturer\":\"tempswitch\""
                         ",\"sw_version\":" + jsonString(version) + "}}";
    return {std::string("homeassistant/") + component + "/" + node + "/" + object + "/config", config};
}

std::vector<MqttMessage> mqttDiscoveryMessages(const std::string &base, const char *version)
{
    return {
        entity(base, "sensor", "temperature", "Temperature",
               ",\"device_class\":\"temperature\",\"unit_of_measurement\":\"\xC2\xB0" "C\""
               ",\"state_class\":\"measurement\"",
               version),
        entity(base, "binary_sensor", "output", "Output", ",\"device_class\":\"power\"", version),
        entity(base, "sensor", "limit", "Limit",
               ",\"device_class\":\"temperature\",\"unit_of_measurement\":\"\xC2\xB0" "C\""
               ",\"entity_category\":\"diagnostic\"",
               version),
    };
}
