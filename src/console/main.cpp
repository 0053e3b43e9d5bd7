// Starts Vantoro.
#include "console/ProgramEntry.h"

#include <cstdio>

int main(int argc, char **argv)
{
    Console::VantoroApplication app(argc, argv);
    const Console::StartOptions options = Console::ParseCommandLine(app.arguments().mid(1));
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(options.error));
        return 2;
    }
    return Console::WinMain(options);
}
