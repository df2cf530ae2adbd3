// The fake service as a program of its own, for the local demo: it listens on
// 127.0.0.1 (the service base on the given port, the other hosts on
// ephemeral ones), creates a demo account, prints every address and what
// the agent needs to reach it, and runs until SIGINT or SIGTERM.
//
//   tessaron-fakeservice [--port N] [--mirror DIR] [--inbox DIR]
//
// --mirror DIR: the demo account's live tree is copied into DIR once a
//   second, so the service's side can be looked at on disk.
// --inbox DIR: a file put into DIR is committed to the demo account's root
//   as another agent would (an add, or an edit of the file of that name),
//   then removed from DIR, and the account's push channel is told.

#include "fakeservice/FakeService.h"

#include "fakeservice/RandomText.h"

#include "foundation/crypto/Crypto.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace {

struct Arguments {
    int port = 0;
    QString mirror;
    QString inbox;
};

std::optional<Arguments> ParseArguments(int argc, char** argv)
{
    Arguments arguments;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc)
            return std::nullopt;
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--port") == 0) {
            char* end = nullptr;
            const long port = std::strtol(value, &end, 10);
            if (end == value || *end != '\0' || port < 0 || port > 65535)
                return std::nullopt;
            arguments.port = int(port);
        } else if (std::strcmp(argv[i], "--mirror") == 0) {
            arguments.mirror = QDir(QString::fromLocal8Bit(value)).absolutePath();
        } else if (std::strcmp(argv[i], "--inbox") == 0) {
            arguments.inbox = QDir(QString::fromLocal8Bit(value)).absolutePath();
        } else {
            return std::nullopt;
        }
    }
    return arguments;
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


// ---- The demo's folders --------------------------------------------------------

const QString WebAgentKey = QStringLiteral("demo-web-upload");

// Copies the live tree into root: folders made, files written when their
// version changed, and whatever the tree no longer holds removed.
void MirrorTree(const FakeState& state, const QString& userId, const QString& root,
                std::map<QString, std::int64_t>& written)
{
    std::set<QString> live;
    for (const FakeItem& item : state.Items(userId)) {
        if (item.recycled)
            continue;
        live.insert(item.path);
        const QString local = root + item.path;
        if (item.isFolder) {
            QDir().mkpath(local);
            continue;
        }
        const auto known = written.find(item.path);
        if (known != written.end() && known->second == item.version && QFileInfo::exists(local))
            continue;
        QDir().mkpath(QFileInfo(local).absolutePath());
        QSaveFile file(local);
        if (file.open(QIODevice::WriteOnly) && file.write(item.content.Bytes()) == item.size && file.commit())
            written[item.path] = item.version;
    }
    QStringList gone;
    QDirIterator entries(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QString relative = path.mid(root.size());
        if (live.count(relative) == 0)
            gone << path;
    }
    std::sort(gone.begin(), gone.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& path : gone) {
        written.erase(path.mid(root.size()));
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

// Commits each file of the inbox whose size held still since the last look
// (so a file still being copied waits) to the account's root.
void TakeInbox(FakeService& service, const FakeAccountSpec& account, const QString& inbox,
               std::map<QString, qint64>& sizes)
{
    std::map<QString, qint64> seen;
    const QFileInfoList files = QDir(inbox).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : files) {
        const QString name = info.fileName();
        seen[name] = info.size();
        const auto before = sizes.find(name);
        if (before == sizes.end() || before->second != info.size())
            continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        const QString path = QStringLiteral("/") + name;
        const std::optional<FakeItem> existing = service.State().FindItem(account.userId, path);
        FakeChange change;
        change.objType = FakeObjType::File;
        change.action = existing && !existing->recycled ? FakeAction::Edit : FakeAction::Add;
        change.path = path;
        change.localMtime = info.lastModified().toSecsSinceEpoch();
        change.size = bytes.size();
        if (existing && !existing->recycled)
            change.baseVersion = QString::number(existing->version);
        const FakeCommitResult result = service.State().CommitChange(account.userId, WebAgentKey, change, bytes);
        file.remove();
        seen.erase(name);
        if (!result.message.isEmpty()) {
            std::printf("inbox: %s refused: %s\n", qPrintable(name), qPrintable(result.message));
        } else {
            std::printf("inbox: %s committed to the service as %s\n", qPrintable(name), qPrintable(path));
            service.Push().InjectMessage(QLatin1String(PushChannel::ChannelPrefix) + account.userSn,
                                         QStringLiteral("sync"));
        }
        std::fflush(stdout);
    }
    sizes = seen;
}

// Runs the demo's folders once a second until stopped.
class DemoFolders {
public:
    DemoFolders(FakeService& service, const FakeAccountSpec& account, const Arguments& arguments)
        : service_(service), account_(account), arguments_(arguments)
    {
        if (!arguments_.mirror.isEmpty())
            QDir().mkpath(arguments_.mirror);
        if (!arguments_.inbox.isEmpty())
            QDir().mkpath(arguments_.inbox);
        if (!arguments_.mirror.isEmpty() || !arguments_.inbox.isEmpty())
            thread_ = std::thread([this] { Run(); });
    }

    ~DemoFolders()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void Run()
    {
        std::map<QString, std::int64_t> written;
        std::map<QString, qint64> sizes;
        std::unique_lock lock(mutex_);
        while (!stop_) {
            lock.unlock();
            if (!arguments_.inbox.isEmpty())
                TakeInbox(service_, account_, arguments_.inbox, sizes);
            if (!arguments_.mirror.isEmpty())
                MirrorTree(service_.State(), account_.userId, arguments_.mirror, written);
            lock.lock();
            wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; });
        }
    }

    FakeService& service_;
    const FakeAccountSpec account_;
    const Arguments arguments_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<Arguments> arguments = ParseArguments(argc, argv);
    if (!arguments) {
        std::fprintf(stderr, "usage: %s [--port N] [--mirror DIR] [--inbox DIR]\n", argv[0]);
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
    options.port = arguments->port;
    FakeService service(options);
    if (!service.IsRunning()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1 port %d\n", arguments->port);
        return 1;
    }
    const FakeAccountSpec account = DemoAccount();
    service.State().AddAccount(account);
    PrintAccount(service, options, account);
    if (!arguments->mirror.isEmpty())
        std::printf("  mirror of the tree:  %s\n", qPrintable(arguments->mirror));
    if (!arguments->inbox.isEmpty())
        std::printf("  inbox:               %s\n", qPrintable(arguments->inbox));
    std::fflush(stdout);

    int received = 0;
    {
        const DemoFolders folders(service, account, *arguments);
        sigwait(&stopSignals, &received);
    }
    std::printf("stopping on signal %d\n", received);
    service.Stop();
    return 0;
}
