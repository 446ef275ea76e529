#pragma once

#include "monitor/cycle_facts.h"
#include "monitor/mqtt_settings.h"

// The connection to an MQTT broker. It lives on a thread of its own, so
// that neither a name lookup, nor a broker that is gone, slow or refusing,
// ever delays a cycle: what cannot be sent at once is dropped.
struct MqttLink;

// Starts connecting in the background, and reconnecting after any failure
// with a pause that grows to 10 s. Failures are said once on standard
// output, and again only after the link has worked in between. The base
// topic is the given one, or tempswitch/HOSTNAME/LIMIT (or /PATH with a
// port). Returns nullptr when the library cannot be set up (said).
MqttLink *mqttStart(const MqttSettings &settings, int limitHalfDegrees, const char *port, const char *version);

// Publishes the cycle's temperature, output and limit, retained, when the
// link is up and not behind; otherwise drops them.
void mqttPublishCycle(MqttLink *link, const CycleFacts &facts);

// Publishes "offline", disconnects and ends the link, waiting at most
// about two seconds for a broker that does not take it.
void mqttStop(MqttLink *link);
