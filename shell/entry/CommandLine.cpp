#include "shell/entry/CommandLine.h"

#include <cstring>

CommandLine::CommandLine(int argc, const char* const* argv)
{
    if (argc < 2 || argv[1] == nullptr)
        return;
    if (std::strcmp(argv[1], "/update") == 0)
        mode_ = Mode::Update;
    else if (std::strcmp(argv[1], "/home") == 0)
        mode_ = Mode::Home;
}
