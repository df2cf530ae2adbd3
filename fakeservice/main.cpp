// The fake service as a program of its own, for the local demo: it listens on
// 127.0.0.1 (the service base on the given port, the other hosts on
// ephemeral ones), creates a demo account, prints every address and what
// the agent needs to reach it, and runs until SIGINT or SIGTERM.
//
//   tessaron-fakeservice [--port N]

#include "fakeservice/FakeService.h"

#include "fakeservice/RandomText.h"

#include "foundation/crypto/Crypto.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

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
    account.memberToken = RandomText::Hex(16);
    account.accessKey = RandomText::Hex(16);
    account.accessKeyChecksum = Md5Hex(account.accessKey);
    return account;
}

void PrintAccount(const FakeService& service, const FakeServiceOptions& options, const FakeAccountSpec& account)
{
    std::printf("fake service listening at %s\n", service.BaseUrl().c_str());
    std::printf("  service base:        %s\n", service.BaseUrl().c_str());
    std::printf("  signed API:          %s\n", service.ApiUrl().c_str());
    std::printf("  upload host:         %s\n", service.UploadUrl().c_str());
    std::printf("  download host:       %s\n", service.DownloadUrl().c_str());
    std::printf("  account server:      %s\n", service.AccountUrl().c_str());
    std::printf("  member token:        %s\n", service.MemberTokenUrl().c_str());
    std::printf("  client auth:         %s\n", service.ClientAuthUrl().c_str());
    std::printf("  push channel:        %s\n", service.PushUrl().c_str());
    std::printf("  api key / secret:    %s / %s\n", qPrintable(options.apiKey), qPrintable(options.apiSecret));
    std::printf("  login / password:    %s / %s\n", qPrintable(account.login), qPrintable(account.password));
    std::printf("  user_id / user_sn:   %s / %s\n", qPrintable(account.userId), qPrintable(account.userSn));
    std::printf("  member access token: %s\n", qPrintable(account.memberToken));
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
