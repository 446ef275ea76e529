// Built without MQTT: the command line refuses --mqtt, so no link exists.
#include "mqtt/mqtt_link.h"

MqttLink *mqttStart(const MqttSettings &, int, const char *, const char *, const ControlRange *, bool)
{
    return nullptr;
}

void mqttPublishCycle(MqttLink *, const CycleFacts &) {}

void mqttPublishState(MqttLink *, const CycleFacts &) {}

MqttCommands mqttTakeCommands(MqttLink *)
{
    return {};
}

void mqttStop(MqttLink *) {}
