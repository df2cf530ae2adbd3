// tessaron: the synchronisation agent as a tray application.
//
//   tessaron [/update | /home]

#include "shell/entry/ProgramEntry.h"

int main(int argc, char** argv)
{
    return ProgramEntry::Run(argc, argv);
}
