#include "tests/convergence/SeedScript.h"

#include <array>
#include <chrono>

using namespace std::chrono_literals;

namespace {

const std::array<const char*, 4> kFolderNames = {"A", "B", "Docs", "Old"};
const std::array<const char*, 6> kFileNames = {"a.txt", "b.txt", "c.bin", "notes.md", "e.txt", "f.dat"};

// The service's error texts, each answered once to a registration or a
// commit.
const std::array<const char*, 10> kMessages = {
    "object path error",
    "sync_journal is expired or commited or fail",
    "Quota Error",
    "agent_key not match in sync_journal",
    "parent not exist",
    "file not exist",
    "file has been recycled",
    "file not found in metadata",
    "caching data expired or not set",
    "an error the agent has never heard of",
};

// Names the other computer may give that cannot exist in a Linux folder:
// longer than 255 bytes in UTF-8 (though not in characters), or holding a
// control character.
QString OddName(int which)
{
    switch (which) {
    case 0:
        return QString(130, QChar(0xFC)) + QStringLiteral(".txt");
    case 1:
        return QStringLiteral("tab\there.txt");
    default:
        return QStringLiteral("bell") + QChar(0x07) + QStringLiteral(".txt");
    }
}
constexpr int kOddNames = 3;

const std::array<const char*, 7> kMethods = {"setSyncJournal", "commitSyncJournal", "getSyncJournal",
                                             "getMetadata",    "postFile2",         "download",
                                             "CHECK"};

QString Parent(const QString& path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString Join(const QString& folder, const QString& name)
{
    return folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
}

bool IsWithin(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

int Depth(const QString& path)
{
    return int(path.count(QLatin1Char('/')));
}

QString KindName(Operation::Kind kind)
{
    switch (kind) {
    case Operation::Kind::WriteFile: return QStringLiteral("write file");
    case Operation::Kind::MakeFolder: return QStringLiteral("make folder");
    case Operation::Kind::Move: return QStringLiteral("move");
    case Operation::Kind::Delete: return QStringLiteral("delete");
    case Operation::Kind::WriteBoth: return QStringLiteral("edit on both sides");
    case Operation::Kind::DeleteVsEdit: return QStringLiteral("delete here, edit there");
    case Operation::Kind::Fault: return QStringLiteral("fault");
    case Operation::Kind::PushSilent: return QStringLiteral("push channel silent");
    case Operation::Kind::PushBack: return QStringLiteral("push channel back");
    case Operation::Kind::Restart: return QStringLiteral("engine stop and start");
    case Operation::Kind::RestartProgram: return QStringLiteral("program restart");
    case Operation::Kind::RestartDuring: return QStringLiteral("engine stop and start during");
    case Operation::Kind::Pause: return QStringLiteral("pause");
    case Operation::Kind::Settle: return QStringLiteral("settle");
    case Operation::Kind::HoldInUse: return QStringLiteral("hold in use");
    case Operation::Kind::OddNameThere: return QStringLiteral("add there a name that cannot exist here");
    }
    return QString();
}

QString FaultName(const Fault& fault)
{
    switch (fault.kind) {
    case FaultKind::DropBeforeReply: return QStringLiteral("dropped connection");
    case FaultKind::DropAfterBytes: return QStringLiteral("connection dropped mid-reply");
    case FaultKind::Http500: return QStringLiteral("HTTP 500");
    case FaultKind::WarningLine: return QStringLiteral("<br /> warning");
    case FaultKind::NonJson: return QStringLiteral("HTML page");
    case FaultKind::Message: return QStringLiteral("message \"") + fault.message + QLatin1Char('"');
    case FaultKind::Timeout: return QStringLiteral("time-out");
    case FaultKind::Delay: return QStringLiteral("delay");
    default: return QStringLiteral("other");
    }
}

QString Sized(const QByteArray& content)
{
    return QStringLiteral(" (%1 bytes)").arg(content.size());
}

}  // namespace

QString Operation::Describe() const
{
    QString text = KindName(kind);
    const QString side = local ? QStringLiteral(" here ") : QStringLiteral(" there ");
    switch (kind) {
    case Kind::WriteFile:
        return text + side + path + Sized(content);
    case Kind::MakeFolder:
        text += side + path;
        for (const auto& [file, bytes] : files)
            text += QStringLiteral(", ") + file + Sized(bytes);
        return text;
    case Kind::Move:
        return text + side + path + QStringLiteral(" -> ") + path2;
    case Kind::Delete:
        return text + side + path;
    case Kind::WriteBoth:
    case Kind::DeleteVsEdit:
        return text + QLatin1Char(' ') + path;
    case Kind::Fault:
        return text + QLatin1Char(' ') + FaultName(fault) + (fault.processed ? QStringLiteral(" after") : QStringLiteral(" before")) +
               QStringLiteral(" carrying out the next ") + QString::fromStdString(method);
    case Kind::RestartDuring:
        return text + QLatin1Char(' ') + QString::fromStdString(method);
    case Kind::Pause:
        return text + QStringLiteral(" %1 ms").arg(pauseMs);
    case Kind::HoldInUse:
        return text + QLatin1Char(' ') + path + QStringLiteral(" for %1 steps").arg(holdSteps);
    case Kind::OddNameThere: {
        QString shown = path;
        for (QChar& c : shown) {
            if (c.unicode() < 0x20)
                c = QLatin1Char('?');
        }
        return text + QLatin1Char(' ') + shown +
               (content.isEmpty() ? QStringLiteral(" (a folder)") : Sized(content));
    }
    default:
        return text;
    }
}

SeedScript::SeedScript(std::uint64_t seed) : seed_(seed), random_(seed), extra_(seed ^ 0x5eed5eed5eed5eedULL)
{
    steps_ = 15 + Below(20);
}

bool SeedScript::Chance(int percent)
{
    return Below(100) < percent;
}

int SeedScript::Below(int bound)
{
    return int(random_() % std::uint64_t(bound));
}

int SeedScript::ExtraBelow(int bound)
{
    return int(extra_() % std::uint64_t(bound));
}

std::int64_t SeedScript::PickSize()
{
    const int roll = Below(100);
    if (roll < 70)
        return 1 + Below(2000);
    if (roll < 92)
        return 2000 + Below(60000);
    return 100000 + Below(300000);
}

QByteArray SeedScript::NewContent(int step, char side, int index, std::int64_t size)
{
    QByteArray content = QByteArrayLiteral("seed ") + QByteArray::number(qulonglong(seed_)) +
                         QByteArrayLiteral(" step ") + QByteArray::number(step) + ' ' + side +
                         QByteArray::number(index) + '\n';
    const std::uint64_t fill = random_();
    while (content.size() < size)
        content += char('a' + (fill + std::uint64_t(content.size()) * 7) % 26);
    return content;
}

QString SeedScript::PickFolder(bool rootAllowed)
{
    std::vector<QString> choices;
    if (rootAllowed)
        choices.push_back(QStringLiteral("/"));
    choices.insert(choices.end(), folders_.begin(), folders_.end());
    if (choices.empty())
        return QString();
    return choices[std::size_t(Below(int(choices.size())))];
}

QString SeedScript::PickFile()
{
    if (files_.empty())
        return QString();
    auto it = files_.begin();
    std::advance(it, Below(int(files_.size())));
    return it->first;
}

QString SeedScript::PickAny()
{
    if (!folders_.empty() && Chance(30))
        return PickFolder(false);
    return PickFile();
}

QString SeedScript::FreeName(const QString& folder, bool folderName)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString name = folderName ? QString::fromLatin1(kFolderNames[std::size_t(Below(int(kFolderNames.size())))])
                                        : QString::fromLatin1(kFileNames[std::size_t(Below(int(kFileNames.size())))]);
        const QString path = Join(folder, name);
        if (!folders_.count(path) && !files_.count(path))
            return path;
    }
    return QString();
}

Operation SeedScript::Next(int step)
{
    const int roll = Below(100);
    const bool local = Chance(50);
    if (roll < 22)
        return WriteFile(step, local);
    if (roll < 30)
        return MakeFolder(step, local);
    if (roll < 40)
        return MoveItem(local);
    if (roll < 47)
        return DeleteItem(local);
    if (roll < 52)
        return WriteBoth(step);
    if (roll < 55)
        return DeleteVsEdit(step);
    if (roll < 66)
        return FaultOperation();
    if (roll < 68) {
        Operation op;
        op.kind = pushSilent_ ? Operation::Kind::PushBack : Operation::Kind::PushSilent;
        pushSilent_ = !pushSilent_;
        return op;
    }
    if (roll < 74)
        return RestartOperation();
    Operation op;
    if (roll < 84) {
        op.kind = Operation::Kind::Settle;
        return op;
    }
    op.kind = Operation::Kind::Pause;
    op.pauseMs = Below(400);
    return op;
}

Operation SeedScript::WriteFile(int step, bool local)
{
    Operation op;
    op.kind = Operation::Kind::WriteFile;
    op.local = local;
    const QString existing = PickFile();
    if (!existing.isEmpty() && Chance(55)) {
        op.path = existing;
        const std::int64_t size = Chance(40) ? files_[existing] : PickSize();
        op.content = NewContent(step, local ? 'L' : 'R', 0, size);
    } else {
        op.path = FreeName(PickFolder(true), false);
        if (op.path.isEmpty())
            return MoveItem(local);
        op.content = NewContent(step, local ? 'L' : 'R', 0, PickSize());
    }
    files_[op.path] = op.content.size();
    return op;
}

Operation SeedScript::MakeFolder(int step, bool local)
{
    Operation op;
    op.kind = Operation::Kind::MakeFolder;
    op.local = local;
    QString parent = PickFolder(true);
    if (Depth(parent) >= 2)
        parent = QStringLiteral("/");
    op.path = FreeName(parent, true);
    if (op.path.isEmpty())
        return WriteFile(step, local);
    folders_.insert(op.path);
    const int count = Below(4);
    for (int index = 0; index < count; ++index) {
        const QString file = FreeName(op.path, false);
        if (file.isEmpty())
            continue;
        op.files.emplace_back(file, NewContent(step, local ? 'L' : 'R', index, PickSize()));
        files_[file] = op.files.back().second.size();
    }
    return op;
}

// What a step becomes when there is nothing for it to act on.
static Operation ShortPause()
{
    Operation op;
    op.kind = Operation::Kind::Pause;
    op.pauseMs = 50;
    return op;
}

Operation SeedScript::MoveItem(bool local)
{
    Operation op;
    op.kind = Operation::Kind::Move;
    op.local = local;
    op.path = PickAny();
    if (op.path.isEmpty()) {
        return ShortPause();
    }
    const bool folder = folders_.count(op.path) > 0;
    // A rename in place, or a move into another folder (never into itself).
    QString target = Chance(50) ? Parent(op.path) : PickFolder(true);
    if (folder && (IsWithin(target, op.path) || Depth(target) >= 2))
        target = QStringLiteral("/");
    op.path2 = FreeName(target, folder);
    if (op.path2.isEmpty() || op.path2 == op.path) {
        return ShortPause();
    }
    ModelMove(op.path, op.path2);
    return op;
}

Operation SeedScript::DeleteItem(bool local)
{
    Operation op;
    op.kind = Operation::Kind::Delete;
    op.local = local;
    op.path = PickAny();
    if (op.path.isEmpty()) {
        return ShortPause();
    }
    ModelDelete(op.path);
    return op;
}

Operation SeedScript::WriteBoth(int step)
{
    Operation op;
    op.kind = Operation::Kind::WriteBoth;
    op.path = PickFile();
    if (op.path.isEmpty())
        return WriteFile(step, Chance(50));
    op.content = NewContent(step, 'L', 0, Chance(30) ? files_[op.path] : PickSize());
    op.content2 = NewContent(step, 'R', 0, Chance(30) ? files_[op.path] : PickSize());
    files_[op.path] = op.content.size();
    return op;
}

Operation SeedScript::DeleteVsEdit(int step)
{
    Operation op;
    op.kind = Operation::Kind::DeleteVsEdit;
    op.path = PickFile();
    if (op.path.isEmpty())
        return WriteFile(step, Chance(50));
    op.content2 = NewContent(step, 'R', 0, PickSize());
    return op;
}

Operation SeedScript::FaultOperation()
{
    Operation op;
    op.kind = Operation::Kind::Fault;
    op.method = kMethods[std::size_t(Below(int(kMethods.size())))];
    const int roll = Below(7);
    const bool registration = op.method == "setSyncJournal" || op.method == "commitSyncJournal";
    if (roll == 0)
        op.fault = Fault::DropBeforeReply();
    else if (roll == 1)
        op.fault = Fault::Http500();
    else if (roll == 2)
        op.fault = Fault::WarningLine();
    else if (roll == 3)
        op.fault = Fault::Timeout(std::chrono::milliseconds(300 + Below(700)));
    else if (roll == 4)
        op.fault = Fault::DropAfterBytes(std::size_t(1 + Below(20)));
    else if (roll == 5 && registration)
        op.fault = Fault::Message(QString::fromUtf8(kMessages[std::size_t(Below(int(kMessages.size())))]));
    else
        op.fault = Fault::NonJson();
    op.fault.processed = Chance(50);
    return op;
}

Operation SeedScript::RestartOperation()
{
    Operation op;
    const int roll = Below(3);
    if (roll == 0) {
        op.kind = Operation::Kind::Restart;
    } else if (roll == 1) {
        op.kind = Operation::Kind::RestartProgram;
    } else {
        op.kind = Operation::Kind::RestartDuring;
        static const std::array<const char*, 5> during = {"postFile2", "download", "commitSyncJournal",
                                                          "getSyncJournal", "setSyncJournal"};
        op.method = during[std::size_t(Below(int(during.size())))];
    }
    return op;
}

std::optional<Operation> SeedScript::Extra(int step, const Operation& next)
{
    const int roll = ExtraBelow(100);
    if (roll < 10) {
        Operation hold = HoldInUse(next);
        if (hold.path.isEmpty())
            return std::nullopt;
        return hold;
    }
    if (roll < 15)
        return OddNameThere(step);
    return std::nullopt;
}

// Mostly the file that the step's operation wrote, so that it is held while
// the engine reads and sends it, or while a fetch from the service would
// replace it; else any file.
Operation SeedScript::HoldInUse(const Operation& next)
{
    Operation op;
    op.kind = Operation::Kind::HoldInUse;
    const bool writes = next.kind == Operation::Kind::WriteFile || next.kind == Operation::Kind::WriteBoth ||
                        next.kind == Operation::Kind::DeleteVsEdit;
    if (writes && ExtraBelow(100) < 75) {
        op.path = next.path;
    } else if (!files_.empty()) {
        auto it = files_.begin();
        std::advance(it, ExtraBelow(int(files_.size())));
        op.path = it->first;
    } else {
        op.path = next.path;
    }
    op.holdSteps = 1 + ExtraBelow(3);
    return op;
}

// Not part of the script's picture: nothing later picks it, so the item
// stays on the service (until a folder above it goes).
Operation SeedScript::OddNameThere(int step)
{
    Operation op;
    op.kind = Operation::Kind::OddNameThere;
    op.local = false;
    std::vector<QString> folders = {QStringLiteral("/")};
    folders.insert(folders.end(), folders_.begin(), folders_.end());
    const QString folder = folders[std::size_t(ExtraBelow(int(folders.size())))];
    const int which = ExtraBelow(kOddNames + 1);
    const QByteArray content = QByteArrayLiteral("seed ") + QByteArray::number(qulonglong(seed_)) +
                               QByteArrayLiteral(" step ") + QByteArray::number(step) + QByteArrayLiteral(" odd\n");
    if (which == kOddNames) {
        // A folder of a long name with a file of an ordinary name in it.
        op.path = Join(folder, QString(128, QChar(0xE9)));
        op.files.emplace_back(Join(op.path, QStringLiteral("inside.txt")), content);
        return op;
    }
    op.path = Join(folder, OddName(which));
    op.content = content;
    return op;
}

void SeedScript::ModelMove(const QString& from, const QString& to)
{
    std::set<QString> folders;
    for (const QString& folder : folders_)
        folders.insert(IsWithin(folder, from) ? to + folder.mid(from.size()) : folder);
    folders_ = folders;
    std::map<QString, std::int64_t> files;
    for (const auto& [file, size] : files_)
        files[IsWithin(file, from) ? to + file.mid(from.size()) : file] = size;
    files_ = files;
}

void SeedScript::ModelDelete(const QString& path)
{
    std::erase_if(folders_, [&](const QString& folder) { return IsWithin(folder, path); });
    std::erase_if(files_, [&](const auto& entry) { return IsWithin(entry.first, path); });
}
