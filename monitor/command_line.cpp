#include "monitor/command_line.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "control/limit_argument.h"
#include "control/schedule_file.h"
#ifdef TEMPSWITCH_MQTT
#include "mqtt/mqtt_tls.h"
#endif
#include "report/escaped_text.h"
#include "report/journal_line.h"
#include "sensor/usb_port_path.h"

void printHelp()
{
    printf("usage: tempswitch [OPTION]... LIMIT\n"
           "       tempswitch [--port PATH] --set LEVEL\n"
           "       tempswitch --after-end [OPTION]... LIMIT\n"
           "       tempswitch --list | --help | --version\n"
           "Reads the USB temperature sensor 1384:8888 once a second, prints each reading\n"
           "and logs it to tmp (snapshot every ten seconds in tmp1), and sets the sensor's\n"
           "output to 255 when the temperature in whole degrees is at or above LIMIT,\n"
           "to 0 below it. Ends when the sensor is lost, or when no read has delivered\n"
           "a reading for 10 cycles in a row.\n"
           "Exit status: 1 when the sensor is not found, lost or silent, 2 for a bad LIMIT\n"
           "or option.\n"
           "Options, before LIMIT (--option VALUE or --option=VALUE):\n"
           "  --hysteresis D    switch back only below LIMIT - D degrees, not just below\n"
           "                    LIMIT (0 to 127.5, whole or with .5; default 0)\n"
           "  --heat            for a heater: 255 below LIMIT, 0 at or above it\n"
           "  --min-on S        once 255, stay 255 for at least S seconds (0 to 86400)\n"
           "  --min-off S       once 0, stay 0 for at least S seconds (0 to 86400)\n"
           "  --offset DEGREES  add DEGREES (-20 to 20, whole or with .5) to every reading\n"
           "                    before it is shown, logged or compared: a calibration\n"
           "  --failsafe LEVEL  set the output to LEVEL (0 to 255) when stopped by\n"
           "                    SIGTERM, SIGINT or SIGHUP, and when the sensor is lost\n"
           "                    or silent\n"
           "  --port PATH       take only the sensor plugged in at this USB port, as\n"
           "                    --list shows it (1-1.2: bus 1, port 1, then port 2)\n"
           "  --metrics FILE    keep FILE up to date with Prometheus metrics for\n"
           "                    node_exporter's textfile collector\n"
           "  --mqtt URL        publish each cycle to an MQTT broker, with Home Assistant\n"
           "                    discovery: mqtt://[USER@]HOST[:PORT] or mqtts://... (TLS)\n"
           "  --mqtt-password-file FILE  the password of the URL's user: FILE's first line\n"
           "                    (default: $CREDENTIALS_DIRECTORY/mqtt-password if present)\n"
           "  --mqtt-ca FILE    check the broker's certificate against the CAs of FILE,\n"
           "                    not the system's CA store (mqtts://)\n"
           "  --mqtt-cert FILE  with mqtts://, the client certificate to give the broker\n"
           "                    (PEM; intermediates may follow it), with --mqtt-key\n"
           "  --mqtt-key FILE   its unencrypted private key (PEM), such as a credential\n"
           "  --mqtt-topic BASE publish under BASE (default tempswitch/HOSTNAME/LIMIT,\n"
           "                    or tempswitch/HOSTNAME/PATH with --port)\n"
           "  --mqtt-control MIN:MAX  take the limit (MIN to MAX degrees) and the mode\n"
           "                    (off, or cool; heat with --heat) from MQTT commands\n"
           "  --state FILE      keep what was set over MQTT in FILE (default\n"
           "                    $STATE_DIRECTORY/tempswitch.state, or tempswitch.state)\n"
           "  --schedule FILE   take the limit from the points of FILE, in local time,\n"
           "                    read again each cycle: weekly points (Mon..Fri 06:30 21)\n"
           "                    or one profile (start 2026-03-01 18:00, then lines such\n"
           "                    as +3d 18); with --mqtt-control a limit set over MQTT\n"
           "                    holds until the schedule's next point\n"
           "  --utf8            print the label of each reading in UTF-8, not Shift_JIS\n"
           "                    (standard output only; tmp and tmp1 stay Shift_JIS)\n"
           "Other uses:\n"
           "  --set LEVEL       set the output to LEVEL (0 to 255) once and exit\n"
           "  --after-end OPTION... LIMIT\n"
           "                    run by the service after each end of the program (its\n"
           "                    ExecStopPost=, with the same options): when the end was\n"
           "                    not the program's own (killed, crashed, stopped too late),\n"
           "                    set the --failsafe level\n"
           "  --list            list every USB device with its port, whether it can be\n"
           "                    opened and read, and mark the one taken as the sensor;\n"
           "                    exit 1 when none is\n"
           "  --help            show this help\n"
           "  --version         show the version\n");
}

static void printUsage()
{
    sayLine(Priority::err, "you need temperature data\n");
}

// "--" and "--5" are no options: they go to the limit, which refuses them.
static bool isOption(const char *argument)
{
    return strncmp(argument, "--", 2) == 0 && isalpha(static_cast<unsigned char>(argument[2]));
}

// Reads the decimal digits at *text, at least one, up to most, and moves
// *text past them.
static bool readDigits(const char **text, int most, int *value)
{
    const char *p = *text;
    long number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > most)
            return false;
    }
    if (p == *text)
        return false;
    *text = p;
    *value = int(number);
    return true;
}

// Decimal digits and nothing else, up to most.
static bool parseWhole(const char *text, int most, int *value)
{
    return readDigits(&text, most, value) && *text == '\0';
}

// Degrees in the sensor's steps, "D", "D.0" or "D.5", up to 127.5; stored
// in half degrees.
static bool parseHalfDegrees(const char *text, int *halfDegrees)
{
    int degrees = 0;
    if (!readDigits(&text, 127, &degrees))
        return false;
    if (*text != '\0' && strcmp(text, ".0") != 0 && strcmp(text, ".5") != 0)
        return false;
    *halfDegrees = 2 * degrees + (strcmp(text, ".5") == 0);
    return true;
}

// A calibration in half degrees: an optional sign, then degrees up to 20
// in the sensor's steps.
static bool parseOffset(const char *text, int *halfDegrees)
{
    int sign = *text == '-' ? -1 : 1;
    if (*text == '-' || *text == '+')
        ++text;
    int magnitude = 0;
    if (!parseHalfDegrees(text, &magnitude) || magnitude > 40)
        return false;
    *halfDegrees = sign * magnitude;
    return true;
}

// What storing an option's value came to: stored, not a valid value (the
// caller says so with the option's hint), or refused with a message of the
// store's own.
enum class Stored { yes, invalid, refused };

static Stored valid(bool ok)
{
    return ok ? Stored::yes : Stored::invalid;
}

// Says that a file the program must read before it starts cannot be read.
static Stored unreadable(const char *what, const char *file)
{
    int error = errno;
    sayLine(Priority::err, "cannot read %s \"%s\": %s\n", what, escapedText(file).c_str(), strerror(error));
    return Stored::refused;
}

static Stored storeHelp(const char *, CommandLine *c) { c->action = Action::help; return Stored::yes; }
static Stored storeVersion(const char *, CommandLine *c) { c->action = Action::version; return Stored::yes; }
static Stored storeList(const char *, CommandLine *c) { c->action = Action::list; return Stored::yes; }
static Stored storeUtf8(const char *, CommandLine *c) { c->utf8Labels = true; return Stored::yes; }
static Stored storeHeat(const char *, CommandLine *c) { c->output.heat = true; return Stored::yes; }
static Stored storeAfterEnd(const char *, CommandLine *c) { c->afterEnd = true; return Stored::yes; }

static Stored storeHysteresis(const char *v, CommandLine *c)
{
    return valid(parseHalfDegrees(v, &c->output.hysteresis));
}
static Stored storeMinOn(const char *v, CommandLine *c) { return valid(parseWhole(v, 86400, &c->output.minOnSeconds)); }
static Stored storeMinOff(const char *v, CommandLine *c) { return valid(parseWhole(v, 86400, &c->output.minOffSeconds)); }
static Stored storeOffset(const char *v, CommandLine *c) { return valid(parseOffset(v, &c->offset)); }
static Stored storeFailsafe(const char *v, CommandLine *c) { return valid(parseWhole(v, 255, &c->failsafe)); }

static Stored storeSet(const char *v, CommandLine *c)
{
    c->action = Action::set;
    return valid(parseWhole(v, 255, &c->setLevel));
}

static Stored storeMetrics(const char *v, CommandLine *c)
{
    c->metricsFile = v;
    return valid(*v != '\0');
}

static Stored storePort(const char *v, CommandLine *c)
{
    c->port = v;
    return valid(usbPortPathValid(v));
}

static Stored storeMqtt(const char *v, CommandLine *c)
{
#ifdef TEMPSWITCH_MQTT
    return valid(mqttParseUrl(v, &c->mqtt));
#else
    (void)v;
    (void)c;
    sayLine(Priority::err, "--mqtt: this tempswitch was built without MQTT\n");
    return Stored::refused;
#endif
}

// A file of certificates or a key for TLS, read whole when its option is
// taken and refused at once when it cannot be used, rather than at every
// connection to the broker.
static Stored storeTlsFile(const char *option, const char *v, const char **file, std::string *text,
                           std::string (*problemOf)(const std::string &), bool afterEnd)
{
    *file = v;
    if (*v == '\0')
        return Stored::invalid;
    if (afterEnd)
        return Stored::yes;
    if (!mqttReadFile(v, text))
        return unreadable(option, v);
#ifdef TEMPSWITCH_MQTT
    std::string problem = problemOf(*text);
    if (!problem.empty()) {
        sayLine(Priority::err, "cannot use %s \"%s\": %s\n", option, escapedText(v).c_str(), problem.c_str());
        return Stored::refused;
    }
#else
    (void)problemOf;
#endif
    return Stored::yes;
}

#ifndef TEMPSWITCH_MQTT
// Without MQTT no TLS file is looked into: --mqtt is refused.
static std::string mqttTlsCertificatesProblem(const std::string &) { return ""; }
static std::string mqttTlsKeyProblem(const std::string &) { return ""; }
#endif

static Stored storeMqttCa(const char *v, CommandLine *c)
{
    return storeTlsFile("--mqtt-ca", v, &c->mqtt.caFile, &c->mqtt.caPem, mqttTlsCertificatesProblem, c->afterEnd);
}

static Stored storeMqttCert(const char *v, CommandLine *c)
{
    return storeTlsFile("--mqtt-cert", v, &c->mqtt.certFile, &c->mqtt.certPem, mqttTlsCertificatesProblem, c->afterEnd);
}

static Stored storeMqttKey(const char *v, CommandLine *c)
{
    return storeTlsFile("--mqtt-key", v, &c->mqtt.keyFile, &c->mqtt.keyPem, mqttTlsKeyProblem, c->afterEnd);
}

static Stored storeMqttPasswordFile(const char *v, CommandLine *c)
{
    c->mqtt.passwordFile = v;
    if (*v == '\0')
        return Stored::invalid;
    if (c->afterEnd)
        return Stored::yes;
    c->mqtt.hasPassword = mqttReadPassword(v, &c->mqtt.password);
    return c->mqtt.hasPassword ? Stored::yes : unreadable("--mqtt-password-file", v);
}

static Stored storeMqttTopic(const char *v, CommandLine *c)
{
    c->mqtt.topic = v;
    return valid(mqttTopicValid(v));
}

static Stored storeMqttControl(const char *v, CommandLine *c)
{
    c->limits.controlled = true;
    return valid(controlParseRange(v, &c->limits.range));
}

static Stored storeState(const char *v, CommandLine *c)
{
    c->limits.stateFile = v;
    return valid(*v != '\0');
}

// Read when the option is taken; parsed once --mqtt-control's range is known.
static Stored storeSchedule(const char *v, CommandLine *c)
{
    c->limits.scheduleFile = v;
    if (*v == '\0')
        return Stored::invalid;
    if (c->afterEnd || scheduleFileRead(v, &c->limits.scheduleText))
        return Stored::yes;
    return unreadable("--schedule", v);
}

// Every option: its name, what its value must be (nullptr for an option
// that takes none), and how the value is stored.
struct OptionEntry {
    const char *name;
    const char *hint;
    Stored (*store)(const char *value, CommandLine *command);
};

static const OptionEntry optionTable[] = {
    {"--help", nullptr, storeHelp},
    {"--version", nullptr, storeVersion},
    {"--list", nullptr, storeList},
    {"--utf8", nullptr, storeUtf8},
    {"--heat", nullptr, storeHeat},
    {"--after-end", nullptr, storeAfterEnd},
    {"--hysteresis", "give degrees from 0 to 127.5, whole or with .5", storeHysteresis},
    {"--min-on", "give whole seconds from 0 to 86400", storeMinOn},
    {"--min-off", "give whole seconds from 0 to 86400", storeMinOff},
    {"--failsafe", "give a level from 0 to 255", storeFailsafe},
    {"--offset", "give degrees from -20 to 20 in steps of 0.5, such as -1.5", storeOffset},
    {"--set", "give a level from 0 to 255", storeSet},
    {"--metrics", "give the path of a file", storeMetrics},
    {"--port", "give a USB port path such as 1-1.2, as tempswitch --list shows it", storePort},
    {"--mqtt", "give mqtt://[USER@]HOST[:PORT] or mqtts://[USER@]HOST[:PORT], port 1 to 65535", storeMqtt},
    {"--mqtt-ca", "give a file of CA certificates", storeMqttCa},
    {"--mqtt-cert", "give a file with the client certificate in PEM", storeMqttCert},
    {"--mqtt-key", "give a file with the client certificate's private key in PEM", storeMqttKey},
    {"--mqtt-password-file", "give a file whose first line is the password", storeMqttPasswordFile},
    {"--mqtt-topic", "give a topic without the wildcards + and #", storeMqttTopic},
    {"--mqtt-control", "give MIN:MAX in whole degrees, MIN <= MAX, such as 5:30", storeMqttControl},
    {"--state", "give the path of a file", storeState},
    {"--schedule", "give the path of a file", storeSchedule},
};

static const OptionEntry *findOption(const std::string &name)
{
    for (const OptionEntry &entry : optionTable)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

static CommandLine refuse(CommandLine command)
{
    printUsage();
    command.action = Action::refuse;
    return command;
}

// A client certificate goes with its key, both or neither, over TLS only.
static bool completeClientCertificate(const MqttSettings &mqtt, bool afterEnd)
{
    const char *given = mqtt.certFile ? "--mqtt-cert" : mqtt.keyFile ? "--mqtt-key" : nullptr;
    if (given == nullptr)
        return true;
    const char *missing = !mqtt.tls                        ? "an mqtts:// URL"
                          : mqtt.certFile == nullptr        ? "--mqtt-cert FILE"
                          : mqtt.keyFile == nullptr         ? "--mqtt-key FILE"
                                                            : nullptr;
    if (missing != nullptr) {
        sayLine(Priority::err, "%s needs %s: see tempswitch --help\n", given, missing);
        return false;
    }
#ifdef TEMPSWITCH_MQTT
    if (!afterEnd && !mqttTlsKeyFits(mqtt.certPem, mqtt.keyPem)) {
        sayLine(Priority::err, "cannot use --mqtt-key \"%s\": it is not the key of the certificate in --mqtt-cert \"%s\"\n",
                escapedText(mqtt.keyFile).c_str(), escapedText(mqtt.certFile).c_str());
        return false;
    }
#else
    (void)afterEnd;
#endif
    return true;
}

// The --mqtt-... options need --mqtt, and a password needs a user: MQTT
// 3.1.1 has no password alone. Under systemd, a user's password may come
// as the credential mqtt-password.
static bool completeMqtt(MqttSettings *mqtt, bool afterEnd)
{
    const char *alone = mqtt->caFile         ? "--mqtt-ca"
                        : mqtt->certFile     ? "--mqtt-cert"
                        : mqtt->keyFile      ? "--mqtt-key"
                        : mqtt->passwordFile ? "--mqtt-password-file"
                        : mqtt->topic        ? "--mqtt-topic"
                                             : nullptr;
    if (mqtt->url == nullptr) {
        if (alone != nullptr)
            sayLine(Priority::err, "%s needs --mqtt URL: see tempswitch --help\n", alone);
        return alone == nullptr;
    }
    if (!completeClientCertificate(*mqtt, afterEnd))
        return false;
    if (mqtt->passwordFile != nullptr && mqtt->user.empty()) {
        sayLine(Priority::err, "--mqtt-password-file needs a user in the --mqtt URL: mqtt://USER@HOST\n");
        return false;
    }
    if (mqtt->passwordFile != nullptr || mqtt->user.empty() || afterEnd)
        return true;
    const char *credentials = getenv("CREDENTIALS_DIRECTORY");
    if (credentials == nullptr)
        return true;
    std::string file = std::string(credentials) + "/mqtt-password";
    if (access(file.c_str(), F_OK) != 0)
        return true;
    if (!mqttReadPassword(file.c_str(), &mqtt->password)) {
        unreadable("the MQTT password file", file.c_str());
        return false;
    }
    mqtt->hasPassword = true;
    return true;
}

// --mqtt-control needs --mqtt and a LIMIT within its range; --state needs
// --mqtt-control.
static bool completeControl(CommandLine *command)
{
    LimitSettings &limits = command->limits;
    const char *missing = limits.controlled && command->mqtt.url == nullptr ? "--mqtt-control needs --mqtt URL"
                          : limits.stateFile && !limits.controlled          ? "--state needs --mqtt-control MIN:MAX"
                                                                            : nullptr;
    if (missing != nullptr) {
        sayLine(Priority::err, "%s: see tempswitch --help\n", missing);
        return false;
    }
    ControlRange &range = limits.range;
    range.heat = command->output.heat;
    int degrees = command->output.limit / 2;
    if (limits.controlled && (degrees < range.minDegrees || degrees > range.maxDegrees)) {
        sayLine(Priority::err, "the limit %d is outside --mqtt-control %d:%d\n", degrees, range.minDegrees,
                range.maxDegrees);
        return false;
    }
    return true;
}

// The schedule's limits must lie within --mqtt-control's range.
static bool completeSchedule(CommandLine *command)
{
    LimitSettings &limits = command->limits;
    ScheduleFault fault;
    if (limits.scheduleFile == nullptr || command->afterEnd ||
        scheduleParse(limits.scheduleText, limits.controlled ? &limits.range : nullptr, &limits.schedule, &fault))
        return true;
    sayLine(Priority::err, "%s\n", scheduleFaultText(limits.scheduleFile, fault).c_str());
    return false;
}

bool afterEndRequested(int argc, char **argv)
{
    for (int at = 1; at < argc && isOption(argv[at]); ++at)
        if (strcmp(argv[at], "--after-end") == 0)
            return true;
    return false;
}

CommandLine parseCommandLine(int argc, char **argv)
{
    CommandLine command;
    command.afterEnd = afterEndRequested(argc, argv);
    int at = 1;
    for (; at < argc && isOption(argv[at]); ++at) {
        // --option=VALUE as well as --option VALUE, as GNU tools take them.
        const char *argument = argv[at];
        const char *equals = strchr(argument, '=');
        std::string name = equals ? std::string(argument, equals) : std::string(argument);
        const OptionEntry *entry = findOption(name);
        if (entry == nullptr) {
            sayLine(Priority::err, "unknown option \"%s\": see tempswitch --help\n", escapedText(argument).c_str());
            return refuse(command);
        }
        const char *value = "";
        if (entry->hint == nullptr && equals != nullptr) {
            sayLine(Priority::err, "%s takes no value: see tempswitch --help\n", entry->name);
            return refuse(command);
        }
        if (entry->hint != nullptr) {
            value = equals ? equals + 1 : at + 1 < argc ? argv[++at] : nullptr;
            if (value == nullptr) {
                sayLine(Priority::err, "missing value for %s: %s\n", entry->name, entry->hint);
                return refuse(command);
            }
        }
        Stored stored = entry->store(value, &command);
        if (stored == Stored::invalid) {
            sayLine(Priority::err, "invalid %s \"%s\": %s\n", entry->name, escapedText(value).c_str(), entry->hint);
        }
        if (stored != Stored::yes)
            return refuse(command);
        if (command.action != Action::run)
            return command;
    }
    if (at >= argc)
        return refuse(command);
    if (!parseLimit(argv[at], &command.output.limit)) {
        sayLine(Priority::err, "invalid temperature limit \"%s\": give a whole number of degrees from -1073741824 to "
                               "1073741823\n",
                escapedText(argv[at]).c_str());
        return refuse(command);
    }
    if (!completeMqtt(&command.mqtt, command.afterEnd) || !completeControl(&command) || !completeSchedule(&command))
        return refuse(command);
    return command;
}
