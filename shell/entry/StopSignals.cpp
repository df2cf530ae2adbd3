#include "shell/entry/StopSignals.h"

#include "foundation/log/PeltaLog.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void CloseSignalPipe()
{
    for (int& fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        AppLog.Write(QStringLiteral("StopSignals: no pipe; SIGTERM and SIGINT end the agent at once"), LogGeneral);
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0) {
        AppLog.Write(QStringLiteral("StopSignals: the handlers cannot be installed"), LogGeneral);
        CloseSignalPipe();
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::OnReadable);
    installed_ = true;
}

StopSignals::~StopSignals()
{
    if (!installed_)
        return;
    notifier_.reset();
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    CloseSignalPipe();
}

void StopSignals::OnReadable()
{
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        AppLog.Write(QStringLiteral("StopSignals: signal %1, the agent ends").arg(int(byte)), LogGeneral);
        Q_EMIT stopRequested(int(byte));
    }
}
