#include "monitor/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "monitor/escaped_text.h"
#include "monitor/limit_argument.h"

void printHelp()
{
    printf("usage: tempswitch [--utf8] LIMIT\n"
           "       tempswitch --list | --help | --version\n"
           "Reads the USB temperature sensor 1384:8888 once a second, prints each reading\n"
           "and logs it to tmp (snapshot every ten seconds in tmp1), and sets the sensor's\n"
           "output to 255 when the temperature in whole degrees is at or above LIMIT,\n"
           "to 0 below it. Ends when the sensor is lost, or when no read has delivered\n"
           "a reading for 10 cycles in a row.\n"
           "Exit status: 1 when the sensor is not found, lost or silent, 2 for a bad LIMIT.\n"
           "  --utf8     print the label of each reading in UTF-8, not Shift_JIS\n"
           "             (standard output only; tmp and tmp1 stay Shift_JIS)\n"
           "  --list     list every USB device, whether it can be opened and read,\n"
           "             and mark the one taken as the sensor; exit 1 when none is\n"
           "  --help     show this help\n"
           "  --version  show the version\n");
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

CommandLine parseCommandLine(int argc, char **argv)
{
    CommandLine command{Action::run, false, 0};
    int at = 1;
    for (; at < argc && isOption(argv[at]); ++at) {
        const char *option = argv[at];
        if (strcmp(option, "--help") == 0)
            return {Action::help, false, 0};
        if (strcmp(option, "--version") == 0)
            return {Action::version, false, 0};
        if (strcmp(option, "--list") == 0)
            return {Action::list, false, 0};
        if (strcmp(option, "--utf8") == 0) {
            command.utf8Labels = true;
            continue;
        }
        printf("unknown option \"");
        printEscaped(option);
        printf("\": see tempswitch --help\n");
        printUsage();
        return {Action::refuse, false, 0};
    }
    if (at >= argc) {
        printUsage();
        return {Action::refuse, false, 0};
    }
    if (!parseLimit(argv[at], &command.limit)) {
        printf("invalid temperature limit \"");
        printEscaped(argv[at]);
        printf("\": give a whole number of degrees from -1073741824 to 1073741823\n");
        printUsage();
        return {Action::refuse, false, 0};
    }
    return command;
}
