#include "mqtt/mqtt_messages.h"

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

// The schedule's next point, and the end of a hold: the thermostat's
// attributes in Home Assistant.
static std::string scheduleAttributes(const LimitFacts &limits)
{
    std::string json;
    if (limits.hasNext)
        json += ",\"next_change\":\"" + isoLocalTime(limits.next) + "\",\"next_limit\":" +
                std::to_string(limits.nextLimit / 2);
    if (limits.holdEnds)
        json += ",\"hold_until\":\"" + isoLocalTime(limits.holdUntil) + "\"";
    return "{" + (json.empty() ? json : json.substr(1)) + "}";
}

std::vector<MqttMessage> mqttStateMessages(const std::string &base, const CycleFacts &facts)
{
    const LimitFacts &limits = facts.limits;
    std::vector<MqttMessage> messages = {{base + "/limit", std::to_string(limits.inUse / 2)}};
    if (limits.mode != nullptr) {
        std::string mode = limits.mode;
        std::string action = mode == "off" ? "off" : facts.level != 255 ? "idle" : mode == "heat" ? "heating" : "cooling";
        messages.push_back({base + "/mode", mode});
        messages.push_back({base + "/action", action});
        if (limits.scheduled)
            messages.push_back({base + "/preset", limits.held ? "none" : "schedule"});
    }
    if (limits.scheduled)
        messages.push_back({base + "/schedule", scheduleAttributes(limits)});
    return messages;
}

std::vector<MqttMessage> mqttCycleMessages(const std::string &base, const CycleFacts &facts)
{
    std::vector<MqttMessage> messages = {{base + "/temperature", readingText(facts.reading)},
                                         {base + "/output", facts.level == 255 ? "ON" : "OFF"}};
    for (MqttMessage &message : mqttStateMessages(base, facts))
        messages.push_back(std::move(message));
    return messages;
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

// The entity id Home Assistant gives a new entity: lower case letters,
// digits and _ only.
static std::string entityId(const char *component, const std::string &node, const char *object)
{
    std::string id = std::string(component) + ".";
    for (unsigned char c : node + "_" + object)
        id += isalnum(c) ? char(tolower(c)) : '_';
    return id;
}

static std::string topicKey(const char *key, const std::string &topic)
{
    return ",\"" + std::string(key) + "\":" + jsonString(topic);
}

// One entity of the device: rest holds its own keys, each after a comma.
static MqttMessage entity(const std::string &base, const char *component, const char *object,
                          const std::string &name, const std::string &rest, const char *version)
{
    const std::string node = nodeId(base);
    std::string config = "{\"name\":" + jsonString(name) +
                         ",\"unique_id\":" + jsonString(node + "_" + object) +
                         ",\"default_entity_id\":" + jsonString(entityId(component, node, object)) + rest +
                         topicKey("availability_topic", mqttAvailabilityTopic(base)) +
                         ",\"device\":{\"identifiers\":[" + jsonString(node) + "],\"name\":" +
                         jsonString("tempswitch " + base.substr(base.find('/') + 1)) +
                         ",\"model\":\"USB thermometer 1384:8888\",\"manufacturer\":\"tempswitch\""
                         ",\"sw_version\":" + jsonString(version) + "}}";
    return {std::string("homeassistant/") + component + "/" + node + "/" + object + "/config", config};
}

static std::string thermostatKeys(const std::string &base, const ControlRange &range, bool scheduled)
{
    const char *mode = controlModeName(range, false);
    std::string keys =
        ",\"modes\":[\"off\",\"" + std::string(mode) + "\"]" + topicKey("mode_command_topic", base + "/mode/set") +
        topicKey("mode_state_topic", base + "/mode") + topicKey("temperature_command_topic", base + "/limit/set") +
        topicKey("temperature_state_topic", base + "/limit") + topicKey("current_temperature_topic", base + "/temperature") +
        topicKey("action_topic", base + "/action") + ",\"min_temp\":" + std::to_string(range.minDegrees) +
        ",\"max_temp\":" + std::to_string(range.maxDegrees) + ",\"temp_step\":1,\"precision\":0.5,\"temperature_unit\":\"C\"";
    if (scheduled)
        keys += ",\"preset_modes\":[\"schedule\"]" + topicKey("preset_mode_command_topic", base + "/preset/set") +
                topicKey("preset_mode_state_topic", base + "/preset");
    return keys;
}

std::vector<MqttMessage> mqttDiscoveryMessages(const std::string &base, const char *version, const ControlRange *control,
                                               bool scheduled)
{
    const std::string celsius = ",\"device_class\":\"temperature\",\"unit_of_measurement\":\"\xC2\xB0" "C\"";
    const std::string attributes = scheduled ? topicKey("json_attributes_topic", base + "/schedule") : "";
    std::vector<MqttMessage> messages = {
        entity(base, "sensor", "temperature", "Temperature",
               topicKey("state_topic", base + "/temperature") + celsius + ",\"state_class\":\"measurement\"", version),
        entity(base, "binary_sensor", "output", "Output",
               topicKey("state_topic", base + "/output") + ",\"device_class\":\"power\"", version),
        entity(base, "sensor", "limit", "Limit",
               topicKey("state_topic", base + "/limit") + celsius + ",\"entity_category\":\"diagnostic\"" + attributes,
               version),
    };
    if (control != nullptr)
        messages.push_back(
            entity(base, "climate", "thermostat", "Thermostat", thermostatKeys(base, *control, scheduled) + attributes,
                   version));
    else  // an empty retained config removes a thermostat left from a run with control
        messages.push_back({"homeassistant/climate/" + nodeId(base) + "/thermostat/config", ""});
    return messages;
}
