// tessaron-bind: binds this computer to a member account without the
// first-run wizard (the local demo, scripted set-ups).

#include "shell/entry/ConsoleBinding.h"

int main(int argc, char** argv)
{
    return ConsoleBinding::Run(argc, argv);
}
