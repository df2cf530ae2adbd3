#pragma once

// The program's command line: only the first argument counts, compared
// exactly (case-sensitive) with "/update" (the updater restarts the program)
// and "/home" (show the sync folder). Anything else is a normal start.

class CommandLine {
public:
    enum class Mode { Normal, Update, Home };

    CommandLine(int argc, const char* const* argv);

    Mode mode() const { return mode_; }

private:
    Mode mode_ = Mode::Normal;
};
