#include "mqtt_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace sim {

static sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int freeTcpPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        throw std::runtime_error("no free port");
    close(fd);
    return ntohs(address.sin_port);
}

static bool accepts(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

MqttBroker::MqttBroker(int port, const std::string &more)
{
    char pattern[] = "/tmp/tempswitch-broker-XXXXXX";
    directory_ = mkdtemp(pattern);
    const std::string config = directory_ + "/mosquitto.conf";
    // Run as root, mosquitto would become the user mosquitto, who may read
    // neither this directory nor the certificates of a test: it stays who we are.
    const passwd *user = getpwuid(geteuid());
    std::ofstream(config) << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                          << "user " << (user ? user->pw_name : "root") << "\nlog_dest file " << directory_
                          << "/mosquitto.log\nlog_type all\n"
                          << more;
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        // Debian puts it in /usr/sbin, which a user's PATH may lack.
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char *>(nullptr));
        execlp("mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    for (int tries = 0; tries < 400 && !running_; ++tries) {
        running_ = accepts(port);
        if (!running_)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

void MqttBroker::freeze()
{
    kill(pid_, SIGSTOP);
}

std::string MqttBroker::log() const
{
    std::ifstream in(directory_ + "/mosquitto.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

MqttBroker::~MqttBroker()
{
    if (pid_ > 0) {
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(directory_, ec);
}

void MqttWatch::onMessage(struct mosquitto *, void *data, const struct mosquitto_message *message)
{
    MqttWatch *watch = static_cast<MqttWatch *>(data);
    std::lock_guard lock(watch->mutex_);
    watch->messages_.push_back(
        {message->topic, std::string(static_cast<const char *>(message->payload), size_t(message->payloadlen)),
         message->retain});
    watch->changed_.notify_all();
}

MqttWatch::MqttWatch(int port, const std::vector<std::string> &topics)
{
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(client_, onMessage);
    if (mosquitto_connect(client_, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot connect to the test broker");
    for (const std::string &topic : topics)
        mosquitto_subscribe(client_, nullptr, topic.c_str(), 0);
    mosquitto_loop_start(client_);
}

MqttWatch::~MqttWatch()
{
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void MqttWatch::publish(const std::string &topic, const std::string &payload, bool retain)
{
    mosquitto_publish(client_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, retain);
}

std::vector<DeliveredMessage> MqttWatch::messages()
{
    std::lock_guard lock(mutex_);
    return messages_;
}

bool MqttWatch::waitFor(const std::function<bool(const std::vector<DeliveredMessage> &)> &done, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(messages_); });
}

}  // namespace sim
