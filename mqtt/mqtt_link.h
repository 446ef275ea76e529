#pragma once

#include "mqtt/mqtt_commands.h"
#include "mqtt/mqtt_settings.h"
#include "report/cycle_facts.h"

// The connection to an MQTT broker. It lives on a thread of its own, so
// that neither a name lookup, nor a broker that is gone, slow or refusing,
// ever delays a cycle: what cannot be sent at once is dropped.
struct MqttLink;

// Starts connecting in the background, and reconnecting after any failure
// with a pause that grows to 10 s. Failures are said once on standard
// output, and again only after the link has worked in between. The base
// topic is the given one, or tempswitch/HOSTNAME/LIMIT (or /PATH with a
// port). With control (--mqtt-control), it also takes commands on
// BASE/limit/set and BASE/mode/set, and with a schedule (scheduled) on
// BASE/preset/set. At every connection, and when Home
// Assistant says it is online, it publishes the discovery configs and the
// last cycle's messages. Returns nullptr when the library cannot be set up
// (said).
MqttLink *mqttStart(const MqttSettings &settings, int limitHalfDegrees, const char *port, const char *version,
                    const ControlRange *control, bool scheduled);

// Publishes the cycle's messages, retained, when the link is up and not
// behind; otherwise drops them.
void mqttPublishCycle(MqttLink *link, const CycleFacts &facts);

// Publishes the state messages alone, at once: the answer to a command.
void mqttPublishState(MqttLink *link, const CycleFacts &facts);

// The commands that came since the last call, handed over to the loop.
MqttCommands mqttTakeCommands(MqttLink *link);

// Publishes "offline", disconnects and ends the link, waiting at most
// about two seconds for a broker that does not take it.
void mqttStop(MqttLink *link);
