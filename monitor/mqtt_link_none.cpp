// Built without MQTT: the command line refuses --mqtt, so no link exists.
#include "monitor/mqtt_link.h"

MqttLink *mqttStart(const MqttSettings &, int, const char *, const char *)
{
    return nullptr;
}

void mqttPublishCycle(MqttLink *, const CycleFacts &) {}

void mqttStop(MqttLink *) {}
