#include "mqtt/mqtt_link.h"

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/mqtt_commands.h"
#include "mqtt/mqtt_messages.h"
#include "mqtt/mqtt_tls.h"
#include "report/journal_line.h"

// Messages handed to the library and not yet written to the socket, beyond
// which a cycle's messages are dropped: a broker that stops reading would
// otherwise grow the library's queue without end.
static const long mostPending = 64;

struct MqttLink {
    struct mosquitto *mosq = nullptr;
    MqttSettings settings;  // the URL's host and port, the user, the TLS files
    std::string base, availability;
    std::vector<MqttMessage> discovery;
    ControlRange range = {0, 0, false};
    std::string commandTopics[3];  // BASE/limit/set, BASE/mode/set, and BASE/preset/set with a schedule

    std::atomic<bool> connected{false}, stopping{false}, finished{false};
    std::atomic<long> queued{0}, written{0};
    // Touched by the network thread only (the callbacks run on it).
    bool failureSaid = false;
    int pauseSeconds = 1;
    bool connackCame = false;  // in the attempt under way
    TlsWatch tls;
    bool retainedSaid[3] = {false, false, false};  // of each command topic: in this subscription

    // Handed over between the threads.
    std::mutex mutex;
    MqttCommands commands;               // for the loop to take
    std::vector<MqttMessage> lastState;  // the last cycle's messages, sent again at a (re)connection
};

// Waits up to that long for *done, in short sleeps: relative sleeps, unlike
// a deadline on a clock, also follow a clock that a test speeds up.
static bool waitUntil(const std::atomic<bool> &done, int milliseconds)
{
    for (int waited = 0; !done && waited < milliseconds; waited += 10)
        usleep(10000);
    return done;
}

static void sayFailure(MqttLink *link, const char *reason)
{
    if (!link->failureSaid)
        sayLine(Priority::warning, "cannot reach the MQTT broker %s:%d: %s\n", link->settings.host.c_str(), link->settings.port, reason);
    link->failureSaid = true;
}

// Why an attempt failed: what TLS showed, when it was at fault, else the
// library's reason.
static std::string failureReason(MqttLink *link, int rc, int error)
{
    if (link->settings.tls) {
        std::string tls = mqttTlsFailure(link->tls.seen, link->settings, rc == MOSQ_ERR_KEEPALIVE, link->connackCame);
        if (!tls.empty())
            return tls;
    }
    if (rc == MOSQ_ERR_KEEPALIVE)  // the library has no text for it
        return "no answer from the broker within 30 s";
    return rc == MOSQ_ERR_ERRNO ? strerror(error) : mosquitto_strerror(rc);
}

// Hands a retained message to the library; what it refuses (no
// connection) is dropped.
static void publish(MqttLink *link, const std::string &topic, const std::string &payload)
{
    if (mosquitto_publish(link->mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 0, true) ==
        MOSQ_ERR_SUCCESS)
        ++link->queued;
}

// The discovery configs, "online" and the last state known.
static void publishAll(MqttLink *link)
{
    for (const MqttMessage &message : link->discovery)
        publish(link, message.topic, message.payload);
    publish(link, link->availability, "online");
    std::lock_guard<std::mutex> lock(link->mutex);
    for (const MqttMessage &message : link->lastState)
        publish(link, message.topic, message.payload);
}

static void onConnect(struct mosquitto *, void *data, int rc)
{
    MqttLink *link = static_cast<MqttLink *>(data);
    link->connackCame = true;
    if (rc != 0) {
        sayFailure(link, mosquitto_connack_string(rc));
        return;
    }
    link->failureSaid = false;
    link->pauseSeconds = 1;
    // Whatever was queued on the last connection is gone with it.
    link->written = link->queued.load();
    // MQTT 3.1.1 subscriptions: the broker also delivers what it keeps
    // retained on them, with the retain flag, so that it can be refused.
    mosquitto_subscribe(link->mosq, nullptr, "homeassistant/status", 1);
    for (int setting = 0; setting < 3; ++setting) {
        if (!link->commandTopics[setting].empty())
            mosquitto_subscribe(link->mosq, nullptr, link->commandTopics[setting].c_str(), 1);
        link->retainedSaid[setting] = false;
    }
    publishAll(link);
    link->connected = true;
}

// A command is never acted on when the broker kept it: it would be replayed
// at every subscription, after every restart.
static void takeCommand(MqttLink *link, const mosquitto_message *message, int setting)
{
    std::string payload(static_cast<const char *>(message->payload), size_t(std::max(message->payloadlen, 0)));
    std::lock_guard<std::mutex> lock(link->mutex);
    if (!message->retain) {
        controlAddCommand(&link->commands, link->range, CommandTopic(setting), message->topic, payload);
    } else if (!link->retainedSaid[setting]) {
        link->retainedSaid[setting] = true;
        link->commands.retainedTopics.push_back(message->topic);
    }
}

static void onMessage(struct mosquitto *, void *data, const struct mosquitto_message *message)
{
    MqttLink *link = static_cast<MqttLink *>(data);
    const std::string topic = message->topic;
    const std::string *commandTopic = std::find(link->commandTopics, link->commandTopics + 3, topic);
    if (commandTopic != link->commandTopics + 3) {  // an unused one is empty, as no topic is
        takeCommand(link, message, int(commandTopic - link->commandTopics));
    } else if (topic == "homeassistant/status" && !message->retain && message->payloadlen == 6 &&
               memcmp(message->payload, "online", 6) == 0) {
        // Home Assistant has started, maybe with a broker that lost what it kept.
        publishAll(link);
    }
}

static void onDisconnect(struct mosquitto *, void *data, int)
{
    static_cast<MqttLink *>(data)->connected = false;
}

static void onPublish(struct mosquitto *, void *data, int)
{
    ++static_cast<MqttLink *>(data)->written;
}

// Sleeps the pause before the next attempt, unless the link is stopped.
static void waitBeforeRetry(MqttLink *link)
{
    waitUntil(link->stopping, link->pauseSeconds * 1000);
    link->pauseSeconds = std::min(link->pauseSeconds * 2, 10);
}

// The link's TLS context, made on its thread: libmosquitto then holds it
// for every connection, and verifies nothing itself.
static bool setUpTls(MqttLink *link)
{
    link->tls.host = link->settings.host;
    std::string problem;
    ssl_ctx_st *context = mqttTlsContext(link->settings, &link->tls, &problem);
    if (context == nullptr) {
        sayLine(Priority::warning, "cannot set up TLS for MQTT: %s\n", problem.c_str());
        return false;
    }
    bool taken = mosquitto_void_option(link->mosq, MOSQ_OPT_SSL_CTX, context) == MOSQ_ERR_SUCCESS &&
                 mosquitto_int_option(link->mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0) == MOSQ_ERR_SUCCESS;
    SSL_CTX_free(context);  // the library keeps its own reference
    if (!taken)
        sayLine(Priority::warning, "cannot set up TLS for MQTT: this libmosquitto takes no TLS context\n");
    return taken;
}

// The network thread: connects (the name lookup and the TLS handshake
// happen here), runs the connection until it ends, and starts again after
// a pause. After a first connection, mosquitto_reconnect: before 2.0.12 a
// mosquitto_connect that follows a disconnection fails over TLS.
static void runLink(MqttLink *link)
{
    if (link->settings.tls && !setUpTls(link)) {
        link->finished = true;
        return;
    }
    bool first = true;
    while (!link->stopping) {
        link->tls.seen = {};
        link->connackCame = false;
        int rc = first ? mosquitto_connect(link->mosq, link->settings.host.c_str(), link->settings.port, 30)
                       : mosquitto_reconnect(link->mosq);
        int error = errno;
        first = first && rc != MOSQ_ERR_SUCCESS;
        while (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(link->mosq, 500, 1);
            error = errno;
        }
        link->connected = false;
        if (link->stopping)
            break;
        sayFailure(link, failureReason(link, rc, error).c_str());
        waitBeforeRetry(link);
    }
    link->finished = true;
}

MqttLink *mqttStart(const MqttSettings &settings, int limitHalfDegrees, const char *port, const char *version,
                    const ControlRange *control, bool scheduled)
{
    mosquitto_lib_init();
    MqttLink *link = new MqttLink;
    link->settings = settings;
    char hostname[HOST_NAME_MAX + 1] = "localhost";
    gethostname(hostname, sizeof hostname);
    hostname[HOST_NAME_MAX] = '\0';
    link->base = settings.topic ? settings.topic : mqttDefaultBase(hostname, limitHalfDegrees, port);
    link->availability = mqttAvailabilityTopic(link->base);
    link->discovery = mqttDiscoveryMessages(link->base, version, control, scheduled);
    if (control != nullptr) {
        link->range = *control;
        link->commandTopics[int(CommandTopic::limit)] = link->base + "/limit/set";
        link->commandTopics[int(CommandTopic::mode)] = link->base + "/mode/set";
        if (scheduled)
            link->commandTopics[int(CommandTopic::preset)] = link->base + "/preset/set";
    }

    link->mosq = mosquitto_new(nullptr, true, link);
    const char *failed = link->mosq == nullptr ? "cannot set up the MQTT client" : nullptr;
    if (!failed) {
        mosquitto_threaded_set(link->mosq, true);
        mosquitto_connect_callback_set(link->mosq, onConnect);
        mosquitto_disconnect_callback_set(link->mosq, onDisconnect);
        mosquitto_publish_callback_set(link->mosq, onPublish);
        mosquitto_message_callback_set(link->mosq, onMessage);
        // The broker says "offline" for us when we die or lose power.
        if (mosquitto_will_set(link->mosq, link->availability.c_str(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS)
            failed = "invalid MQTT topic";
    }
    if (!failed && !settings.user.empty() &&
        mosquitto_username_pw_set(link->mosq, settings.user.c_str(),
                                  settings.hasPassword ? settings.password.c_str() : nullptr) != MOSQ_ERR_SUCCESS)
        failed = "cannot set the MQTT user";
    if (failed) {
        sayLine(Priority::warning, "%s\n", failed);
        if (link->mosq)
            mosquitto_destroy(link->mosq);
        delete link;
        mosquitto_lib_cleanup();
        return nullptr;
    }
    // The stop signals belong to the loop, and a broker that closes the
    // socket must give an error, not SIGPIPE: the thread blocks them all.
    sigset_t blocked, before;
    sigemptyset(&blocked);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        sigaddset(&blocked, signal);
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    std::thread(runLink, link).detach();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return link;
}

static void publishIfUp(MqttLink *link, const std::vector<MqttMessage> &messages)
{
    if (!link->connected || link->queued - link->written > mostPending)
        return;
    for (const MqttMessage &message : messages)
        publish(link, message.topic, message.payload);
}

void mqttPublishCycle(MqttLink *link, const CycleFacts &facts)
{
    if (link == nullptr)
        return;
    std::vector<MqttMessage> messages = mqttCycleMessages(link->base, facts);
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->lastState = messages;
    }
    publishIfUp(link, messages);
}

void mqttPublishState(MqttLink *link, const CycleFacts &facts)
{
    if (link != nullptr)
        publishIfUp(link, mqttStateMessages(link->base, facts));
}

MqttCommands mqttTakeCommands(MqttLink *link)
{
    MqttCommands taken;
    if (link != nullptr) {
        std::lock_guard<std::mutex> lock(link->mutex);
        std::swap(taken, link->commands);
    }
    return taken;
}

void mqttStop(MqttLink *link)
{
    if (link == nullptr)
        return;
    // Told first, so that the end of the connection is not taken for a failure.
    link->stopping = true;
    if (link->connected)
        publish(link, link->availability, "offline");
    mosquitto_disconnect(link->mosq);
    if (!waitUntil(link->finished, 2000))
        return;  // a connect under way, or a broker that takes nothing: the process ends without it
    mosquitto_destroy(link->mosq);
    delete link;
    mosquitto_lib_cleanup();
}
