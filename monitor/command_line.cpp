#include "monitor/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "monitor/escaped_text.h"
#include "monitor/limit_argument.h"

void printHelp()
{
    printf("usage: tempswitch [OPTION]... LIMIT\n"
           "       tempswitch --set LEVEL\n"
           "       tempswitch --list | --help | --version\n"
           "Reads the USB temperature sensor 1384:8888 once a second, prints each reading\n"
           "and logs it to tmp (snapshot every ten seconds in tmp1), and sets the sensor's\n"
           "output to 255 when the temperature in whole degrees is at or above LIMIT,\n"
           "to 0 below it. Ends when the sensor is lost, or when no read has delivered\n"
           "a reading for 10 cycles in a row.\n"
           "Exit status: 1 when the sensor is not found, lost or silent, 2 for a bad LIMIT\n"
           "or option.\n"
           "Options, before LIMIT:\n"
           "  --hysteresis D    switch back only below LIMIT - D degrees, not just below\n"
           "                    LIMIT (0 to 127.5, whole or with .5; default 0)\n"
           "  --heat            for a heater: 255 below LIMIT, 0 at or above it\n"
           "  --min-on S        once 255, stay 255 for at least S seconds (0 to 86400)\n"
           "  --min-off S       once 0, stay 0 for at least S seconds (0 to 86400)\n"
           "  --failsafe LEVEL  set the output to LEVEL (0 to 255) when stopped by\n"
           "                    SIGTERM, SIGINT or SIGHUP, and when the sensor is lost\n"
           "                    or silent\n"
           "  --metrics FILE    keep FILE up to date with Prometheus metrics for\n"
           "                    node_exporter's textfile collector\n"
           "  --utf8            print the label of each reading in UTF-8, not Shift_JIS\n"
           "                    (standard output only; tmp and tmp1 stay Shift_JIS)\n"
           "Other uses:\n"
           "  --set LEVEL       set the output to LEVEL (0 to 255) once and exit\n"
           "  --list            list every USB device, whether it can be opened and read,\n"
           "                    and mark the one taken as the sensor; exit 1 when none is\n"
           "  --help            show this help\n"
           "  --version         show the version\n");
}

static void printUsage()
{
    printf("you need temperature data\n");
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

// What the value of each option that takes one must be; nullptr for the rest.
static const char *valueHint(const char *option)
{
    if (strcmp(option, "--hysteresis") == 0)
        return "give degrees from 0 to 127.5, whole or with .5";
    if (strcmp(option, "--min-on") == 0 || strcmp(option, "--min-off") == 0)
        return "give whole seconds from 0 to 86400";
    if (strcmp(option, "--failsafe") == 0 || strcmp(option, "--set") == 0)
        return "give a level from 0 to 255";
    if (strcmp(option, "--metrics") == 0)
        return "give the path of a file";
    return nullptr;
}

// Stores the value of an option that takes one; false when it is not valid.
static bool storeValue(const char *option, const char *value, CommandLine *command)
{
    if (strcmp(option, "--hysteresis") == 0)
        return parseHalfDegrees(value, &command->output.hysteresis);
    if (strcmp(option, "--min-on") == 0)
        return parseWhole(value, 86400, &command->output.minOnSeconds);
    if (strcmp(option, "--min-off") == 0)
        return parseWhole(value, 86400, &command->output.minOffSeconds);
    if (strcmp(option, "--failsafe") == 0)
        return parseWhole(value, 255, &command->failsafe);
    if (strcmp(option, "--set") == 0)
        return parseWhole(value, 255, &command->setLevel);
    command->metricsFile = value;
    return *value != '\0';
}

static CommandLine withAction(CommandLine command, Action action)
{
    command.action = action;
    return command;
}

static CommandLine refuse(const CommandLine &command)
{
    printUsage();
    return withAction(command, Action::refuse);
}

CommandLine parseCommandLine(int argc, char **argv)
{
    CommandLine command{Action::run, false, {0, 0, false, 0, 0}, -1, nullptr, 0};
    int at = 1;
    for (; at < argc && isOption(argv[at]); ++at) {
        const char *option = argv[at];
        if (strcmp(option, "--help") == 0)
            return withAction(command, Action::help);
        if (strcmp(option, "--version") == 0)
            return withAction(command, Action::version);
        if (strcmp(option, "--list") == 0)
            return withAction(command, Action::list);
        if (strcmp(option, "--utf8") == 0) {
            command.utf8Labels = true;
            continue;
        }
        if (strcmp(option, "--heat") == 0) {
            command.output.heat = true;
            continue;
        }
        const char *hint = valueHint(option);
        if (hint == nullptr) {
            printf("unknown option \"");
            printEscaped(option);
            printf("\": see tempswitch --help\n");
            return refuse(command);
        }
        const char *value = at + 1 < argc ? argv[++at] : nullptr;
        if (value == nullptr) {
            printf("missing value for %s: %s\n", option, hint);
            return refuse(command);
        }
        if (!storeValue(option, value, &command)) {
            printf("invalid %s \"", option);
            printEscaped(value);
            printf("\": %s\n", hint);
            return refuse(command);
        }
        if (strcmp(option, "--set") == 0)
            return withAction(command, Action::set);
    }
    if (at >= argc)
        return refuse(command);
    if (!parseLimit(argv[at], &command.output.limit)) {
        printf("invalid temperature limit \"");
        printEscaped(argv[at]);
        printf("\": give a whole number of degrees from -1073741824 to 1073741823\n");
        return refuse(command);
    }
    return command;
}
