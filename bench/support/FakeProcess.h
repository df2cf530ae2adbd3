#pragma once

// A fake service in a child process, forked before any thread of this
// process starts, so that the figures measured here are this process's
// alone. The child answers one-line commands over a pair of pipes; the
// first line it writes holds its addresses, separated by blanks.

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class FakeProcess {
public:
    // Runs in the child with the ends of the two pipes it reads and writes;
    // its result is the child's exit code.
    using Child = std::function<int(int commands, int replies)>;
    // The answer to one command, given as its words.
    using Answer = std::function<std::string(const QStringList& words)>;

    FakeProcess() = default;
    // Tells the child to quit and waits for it.
    ~FakeProcess();
    FakeProcess(const FakeProcess&) = delete;
    FakeProcess& operator=(const FakeProcess&) = delete;

    // Forks the child and reads its addresses; false when it did not start
    // or named fewer than `addresses`.
    bool Start(const Child& child, int addresses);

    // Sends a command and waits for its one-line answer.
    QString Ask(const QString& command);

    // The child's addresses in the order it wrote them.
    QString Address(int index) const { return addresses_.value(index); }
    QString Base() const { return Address(0); }
    QString Upload() const { return Address(1); }

    // Points this process at the child: the service and upload addresses
    // (the first two), the agent interface's method paths, online.
    void AimProcessHere() const;

    // The child's side: writes the addresses, then answers every command
    // line until "quit" or the end of the commands.
    static void Serve(int commands, int replies, const std::vector<std::string>& addresses, const Answer& answer);

private:
    QString ReadLine();

    pid_t pid_ = -1;
    std::unique_ptr<FILE, decltype(&std::fclose)> out_{nullptr, &std::fclose};
    std::unique_ptr<FILE, decltype(&std::fclose)> in_{nullptr, &std::fclose};
    QStringList addresses_;
};
