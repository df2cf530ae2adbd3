#include "bench/support/FakeProcess.h"

#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

bool FakeProcess::Start(const Child& child, int addresses)
{
    int commands[2];
    int replies[2];
    if (pipe(commands) != 0 || pipe(replies) != 0)
        return false;
    pid_ = fork();
    if (pid_ == 0) {
        close(commands[1]);
        close(replies[0]);
        std::_Exit(child(commands[0], replies[1]));
    }
    close(commands[0]);
    close(replies[1]);
    out_.reset(fdopen(commands[1], "w"));
    in_.reset(fdopen(replies[0], "r"));
    addresses_ = ReadLine().split(u' ', Qt::SkipEmptyParts);
    return pid_ > 0 && addresses_.size() >= addresses;
}

FakeProcess::~FakeProcess()
{
    if (pid_ <= 0)
        return;
    std::fprintf(out_.get(), "quit\n");
    out_.reset();
    waitpid(pid_, nullptr, 0);
}

QString FakeProcess::Ask(const QString& command)
{
    std::fprintf(out_.get(), "%s\n", qPrintable(command));
    std::fflush(out_.get());
    return ReadLine();
}

void FakeProcess::AimProcessHere() const
{
    ServiceUrl = Base();
    UploadUrl = Upload();
    ApiMethodMap.clear();
    PeltaReg::FillApiMethodMap(ApiMethodMap);
    AppState = XAPPOnline;
}

QString FakeProcess::ReadLine()
{
    char line[4096];
    return std::fgets(line, sizeof line, in_.get()) ? QString::fromUtf8(line).trimmed() : QString();
}

void FakeProcess::Serve(int commands, int replies, const std::vector<std::string>& addresses, const Answer& answer)
{
    std::unique_ptr<FILE, decltype(&std::fclose)> in(fdopen(commands, "r"), &std::fclose);
    std::unique_ptr<FILE, decltype(&std::fclose)> out(fdopen(replies, "w"), &std::fclose);
    std::string first;
    for (const std::string& address : addresses)
        first += (first.empty() ? "" : " ") + address;
    std::fprintf(out.get(), "%s\n", first.c_str());
    std::fflush(out.get());
    char line[4096];
    while (std::fgets(line, sizeof line, in.get())) {
        const QStringList words = QString::fromUtf8(line).trimmed().split(u' ');
        if (words.value(0) == u"quit")
            break;
        std::fprintf(out.get(), "%s\n", answer(words).c_str());
        std::fflush(out.get());
    }
}
