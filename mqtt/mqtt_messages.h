#pragma once

#include <string>
#include <vector>

#include "mqtt/mqtt_commands.h"
#include "report/cycle_facts.h"

// The MQTT messages of a run, as text; sending them is the link's work.
struct MqttMessage {
    std::string topic;
    std::string payload;
};

// The base topic when none is given: distinct for each machine on a broker
// and each instance on a machine, and the same across restarts.
std::string mqttDefaultBase(const std::string &hostname, int limitHalfDegrees, const char *port);

// BASE/availability: "online" while connected, "offline" as the will and at
// the end.
std::string mqttAvailabilityTopic(const std::string &base);

// After each cycle's output request: the temperature as the metrics file
// writes it ("24.5", "25"), the output ("ON" at 255, "OFF" at 0), then the
// state messages.
std::vector<MqttMessage> mqttCycleMessages(const std::string &base, const CycleFacts &facts);

// The limit in use; with --mqtt-control also the mode ("off", "cool",
// "heat") and the action ("off" in mode off, else "cooling" or "heating"
// at 255 and "idle" at 0). With --schedule, the JSON of the next point and
// of a hold's end (BASE/schedule), and with control the preset: "schedule"
// while the schedule rules, "none" during a hold.
std::vector<MqttMessage> mqttStateMessages(const std::string &base, const CycleFacts &facts);

// Home Assistant's MQTT discovery under homeassistant/: the temperature,
// the output and the limit as entities of one device, named after the base
// topic, each with the availability topic; with control, a thermostat too,
// and without it an empty config that removes one left from an earlier run.
// With a schedule the limit and the thermostat carry its attributes, and
// the thermostat has the preset "schedule".
std::vector<MqttMessage> mqttDiscoveryMessages(const std::string &base, const char *version,
                                               const ControlRange *control, bool scheduled);
