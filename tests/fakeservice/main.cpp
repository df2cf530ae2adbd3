// The fake service as a program of its own, for the local demo: it listens on
// 127.0.0.1, creates a demo account, prints what the agent needs to reach it,
// and runs until SIGINT or SIGTERM.
//
//   tessaron-fakeservice [--port N]

#include "tests/fakeservice/FakeService.h"

#include "foundation/Crypto.h"

#include <QRandomGenerator>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

QString RandomHex(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    for (char& byte : random)
        byte = char(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(HexLower(random));
}

std::optional<int> PortArgument(int argc, char** argv)
{
    if (argc == 1)
        return 0;
    if (argc != 3 || std::strcmp(argv[1], "--port") != 0)
        return std::nullopt;
    char* end = nullptr;
    const long port = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || port < 0 || port > 65535)
        return std::nullopt;
    return int(port);
}

FakeAccountSpec DemoAccount()
{
    FakeAccountSpec account;
    account.userId = QStringLiteral("100001");
    account.userSn = QStringLiteral("700001");
    account.login = QStringLiteral("demo");
    account.password = QStringLiteral("demo-password");
    account.memberToken = RandomHex(16);
    account.accessKey = RandomHex(16);
    account.accessKeyChecksum = Md5Hex(account.accessKey);
    return account;
}

void PrintAccount(const FakeService& service, const FakeServiceOptions& options, const FakeAccountSpec& account)
{
    std::printf("fake service listening at %s\n", service.BaseUrl().c_str());
    std::printf("  signed API:          %s\n", service.ApiUrl().c_str());
    std::printf("  api key / secret:    %s / %s\n", qPrintable(options.apiKey), qPrintable(options.apiSecret));
    std::printf("  login / password:    %s / %s\n", qPrintable(account.login), qPrintable(account.password));
    std::printf("  user_id / user_sn:   %s / %s\n", qPrintable(account.userId), qPrintable(account.userSn));
    std::printf("  member token:        %s\n", qPrintable(account.memberToken));
    std::printf("  access key:          %s\n", qPrintable(account.accessKey));
    std::printf("  access key checksum: %s\n", qPrintable(account.accessKeyChecksum));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<int> port = PortArgument(argc, argv);
    if (!port) {
        std::fprintf(stderr, "usage: %s [--port N]\n", argv[0]);
        return 2;
    }

    // Block the stop signals before any thread starts, so that every thread
    // inherits the mask and only the wait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    FakeServiceOptions options;
    options.port = *port;
    FakeService service(options);
    if (!service.IsRunning()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1 port %d\n", *port);
        return 1;
    }
    const FakeAccountSpec account = DemoAccount();
    service.State().AddAccount(account);
    PrintAccount(service, options, account);

    int received = 0;
    sigwait(&stopSignals, &received);
    std::printf("stopping on signal %d\n", received);
    service.Stop();
    return 0;
}
