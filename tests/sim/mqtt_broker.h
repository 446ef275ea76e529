// A real mosquitto broker for the tests, on a free port of the loopback in
// a directory of its own, and a client that records what it delivers.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace sim {

// A TCP port on 127.0.0.1 that nothing listens on now.
int freeTcpPort();

class MqttBroker {
public:
    // Returns once the broker takes connections on port; more is added to
    // its configuration (further listeners).
    explicit MqttBroker(int port, const std::string &more = "");
    ~MqttBroker();
    MqttBroker(const MqttBroker &) = delete;
    MqttBroker &operator=(const MqttBroker &) = delete;
    bool running() const { return running_; }
    // Stops the broker's process (SIGSTOP): connections stay open, nothing is read.
    void freeze();
    std::string log() const;  // what the broker has logged so far

private:
    pid_t pid_ = -1;
    std::string directory_;
    bool running_ = false;
};

struct DeliveredMessage {
    std::string topic, payload;
    bool retained;
};

class MqttWatch {
public:
    MqttWatch(int port, const std::vector<std::string> &topics);
    ~MqttWatch();
    MqttWatch(const MqttWatch &) = delete;
    MqttWatch &operator=(const MqttWatch &) = delete;

    std::vector<DeliveredMessage> messages();
    // Sends a message with QoS 1, as Home Assistant sends its commands.
    void publish(const std::string &topic, const std::string &payload, bool retain = false);
    // Waits until what was delivered so far satisfies done.
    bool waitFor(const std::function<bool(const std::vector<DeliveredMessage> &)> &done, int timeoutMs = 20000);

private:
    static void onMessage(struct mosquitto *, void *, const struct mosquitto_message *);
    struct mosquitto *client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeliveredMessage> messages_;
};

}  // namespace sim
