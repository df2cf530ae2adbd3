#include "fakeservice/PushChannel.h"

#include "fakeservice/FormDecoder.h"
#include "fakeservice/RandomText.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::chrono::milliseconds ProbeInterval{50};

const QString UnknownSession = QStringLiteral("004");
const QString Refused = QStringLiteral("006");
const QString NameInUse = QStringLiteral("007");

QString ErrorValue(const QString& code)
{
    if (code == UnknownSession)
        return QStringLiteral("BAD_SESSID");
    if (code == NameInUse)
        return QStringLiteral("NICK_USED");
    return QStringLiteral("BAD_PARAMS");
}

QJsonObject Element(const char* raw, const QJsonObject& data)
{
    return QJsonObject{{QStringLiteral("raw"), QLatin1String(raw)}, {QStringLiteral("data"), data}};
}

QJsonObject Error(const QString& code)
{
    return Element("ERR", QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("value"), ErrorValue(code)}});
}

bool IsError(const QJsonObject& element)
{
    return element.value(QStringLiteral("raw")).toString() == u"ERR";
}

QJsonArray Single(const QJsonObject& element)
{
    return QJsonArray{element};
}

QJsonArray Closed()
{
    return Single(Element("CLOSE", QJsonObject()));
}

std::string Text(const QJsonArray& replies)
{
    return QJsonDocument(replies).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject Params(const QJsonObject& command)
{
    return command.value(QStringLiteral("params")).toObject();
}

QString Command(const QJsonObject& command)
{
    return command.value(QStringLiteral("cmd")).toString();
}

QString SessionId(const QJsonObject& command)
{
    return command.value(QStringLiteral("sessid")).toString();
}

}  // namespace

PushChannel::PushChannel(bool strictFormEncoding) : strictFormEncoding_(strictFormEncoding)
{
}

// ---- Set-up ---------------------------------------------------------------------

void PushChannel::SetHoldTime(std::chrono::milliseconds hold)
{
    Lock lock(mutex_);
    hold_ = hold;
}

int PushChannel::InjectMessage(const QString& channel, const QString& message)
{
    Lock lock(mutex_);
    return Queue(channel.toLower(), message, QString());
}

int PushChannel::InjectQuota(const QString& userSn, std::int64_t megabytes)
{
    return InjectMessage(ChannelOf(userSn), QStringLiteral("newQuota=%1").arg(megabytes));
}

bool PushChannel::ExpireSession(const QString& sessid)
{
    Lock lock(mutex_);
    const bool found = sessions_.erase(sessid) > 0;
    changed_.notify_all();
    return found;
}

void PushChannel::ExpireAllSessions()
{
    Lock lock(mutex_);
    sessions_.clear();
    changed_.notify_all();
}

void PushChannel::FailNext(const QString& code)
{
    Lock lock(mutex_);
    failures_.push_back(code);
}

// ---- Inspection -------------------------------------------------------------------

std::vector<FakePushSession> PushChannel::Sessions() const
{
    Lock lock(mutex_);
    std::vector<FakePushSession> sessions;
    for (const auto& [sessid, session] : sessions_) {
        sessions.push_back(FakePushSession{sessid, session.name, session.channel,
                                           std::vector<QString>(session.messages.begin(), session.messages.end())});
    }
    return sessions;
}

std::vector<QJsonObject> PushChannel::Commands() const
{
    Lock lock(mutex_);
    return commands_;
}

std::size_t PushChannel::HeldChecks() const
{
    Lock lock(mutex_);
    return heldChecks_;
}

QString PushChannel::ChannelOf(const QString& userSn)
{
    return QLatin1String(ChannelPrefix) + userSn;
}

// ---- Service ------------------------------------------------------------------------

std::string PushChannel::MethodOf(const std::string& body) const
{
    QString error;
    const std::optional<QJsonArray> commands = Parse(body, error);
    if (!commands || commands->isEmpty())
        return "push";
    const QString name = Command(commands->first().toObject());
    return name.isEmpty() ? std::string("push") : name.toStdString();
}

std::string PushChannel::Handle(const std::string& body, const std::function<bool()>& peerGone)
{
    QString error;
    const std::optional<QJsonArray> commands = Parse(body, error);
    if (!commands) {
        std::fprintf(stderr, "fake push channel: %s: %s\n", qPrintable(error), body.substr(0, 200).c_str());
        return Text(Single(Error(Refused)));
    }
    Lock lock(mutex_);
    for (const QJsonValue& command : *commands)
        commands_.push_back(command.toObject());
    if (!failures_.empty()) {
        const QString code = failures_.front();
        failures_.pop_front();
        return Text(Single(Error(code)));
    }
    return Exchange(lock, *commands, peerGone);
}

void PushChannel::Stop()
{
    Lock lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

// ---- Private ----------------------------------------------------------------------

std::optional<QJsonArray> PushChannel::Parse(const std::string& body, QString& error) const
{
    const QByteArray raw = QByteArray::fromStdString(body).trimmed();
    if (strictFormEncoding_ && !FormDecoder::IsFormEncoded(raw)) {
        error = QStringLiteral("the body is not form encoded");
        return std::nullopt;
    }
    const std::optional<QByteArray> text = raw.startsWith('[') ? std::optional<QByteArray>(raw)
                                                                : FormDecoder::PercentDecode(raw);
    if (!text) {
        error = QStringLiteral("malformed %-escape in the body");
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text->trimmed(), &parseError);
    if (!document.isArray()) {
        error = QStringLiteral("the body is no JSON array of commands");
        return std::nullopt;
    }
    for (const QJsonValue& command : document.array()) {
        if (!command.isObject() || Command(command.toObject()).isEmpty()) {
            error = QStringLiteral("a command without cmd");
            return std::nullopt;
        }
    }
    return document.array();
}

std::string PushChannel::Exchange(Lock& lock, const QJsonArray& commands, const std::function<bool()>& peerGone)
{
    QJsonArray replies;
    QString session;  // the session of this exchange's CONNECT
    for (const QJsonValue& value : commands) {
        const QJsonObject command = value.toObject();
        const QString name = Command(command);
        std::optional<QJsonObject> element;
        if (name == u"CONNECT")
            element = Connect(command, session);
        else if (name == u"JOIN")
            element = Join(command, session.isEmpty() ? SessionId(command) : session);
        else if (name == u"SEND")
            element = Send(command);
        else if (name == u"CHECK")
            return Text(Check(lock, SessionId(command), peerGone));
        else
            element = Error(Refused);
        if (!element)
            continue;
        replies.append(*element);
        if (IsError(*element))
            break;
    }
    return Text(replies);
}

std::optional<QJsonObject> PushChannel::Connect(const QJsonObject& command, QString& session)
{
    const QString name = Params(command).value(QStringLiteral("name")).toString();
    if (name.isEmpty())
        return Error(Refused);
    const bool taken = std::any_of(sessions_.begin(), sessions_.end(),
                                   [&](const auto& entry) { return entry.second.name == name; });
    if (taken)
        return Error(NameInUse);
    session = RandomText::Hex(16);
    sessions_[session].name = name;
    return Element("LOGIN", QJsonObject{{QStringLiteral("sessid"), session}});
}

std::optional<QJsonObject> PushChannel::Join(const QJsonObject& command, const QString& sessid)
{
    const auto it = sessions_.find(sessid);
    if (it == sessions_.end())
        return Error(UnknownSession);
    const QString channel = Params(command).value(QStringLiteral("channels")).toString().toLower();
    if (channel.isEmpty())
        return Error(Refused);
    it->second.channel = channel;
    const QJsonObject pipe{{QStringLiteral("pubid"), PipeOf(channel)},
                          {QStringLiteral("properties"), QJsonObject{{QStringLiteral("name"), channel}}}};
    return Element("CHANNEL", QJsonObject{{QStringLiteral("pipe"), pipe}});
}

std::optional<QJsonObject> PushChannel::Send(const QJsonObject& command)
{
    const QString sessid = SessionId(command);
    const auto it = sessions_.find(sessid);
    if (it == sessions_.end())
        return Error(UnknownSession);
    const QJsonObject params = Params(command);
    const QString channel = it->second.channel;
    if (channel.isEmpty() || params.value(QStringLiteral("pipe")).toString() != PipeOf(channel))
        return Error(Refused);
    Queue(channel, params.value(QStringLiteral("msg")).toString(), sessid);
    return std::nullopt;
}

QJsonArray PushChannel::Check(Lock& lock, const QString& sessid, const std::function<bool()>& peerGone)
{
    auto it = sessions_.find(sessid);
    if (it == sessions_.end())
        return Single(Error(UnknownSession));
    if (!it->second.messages.empty())
        return TakeMessages(it->second);
    const std::uint64_t poll = ++it->second.polls;
    const auto deadline = std::chrono::steady_clock::now() + hold_;
    // Counted while held; every return below holds the lock.
    struct Held {
        explicit Held(std::size_t& count) : count_(count) { ++count_; }
        ~Held() { --count_; }
        std::size_t& count_;
    } held(heldChecks_);
    while (!stopped_ && std::chrono::steady_clock::now() < deadline) {
        changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + ProbeInterval));
        lock.unlock();
        const bool gone = peerGone();
        lock.lock();
        if (gone)
            return QJsonArray();  // nobody reads it; the messages wait for the next CHECK
        it = sessions_.find(sessid);
        if (it == sessions_.end())
            return Single(Error(UnknownSession));
        if (it->second.polls != poll)
            return Closed();
        if (!it->second.messages.empty())
            return TakeMessages(it->second);
    }
    return Closed();
}

QJsonArray PushChannel::TakeMessages(Session& session)
{
    QJsonArray replies;
    for (const QString& message : session.messages)
        replies.append(Element("DATA", QJsonObject{{QStringLiteral("msg"), message}}));
    session.messages.clear();
    return replies;
}

QString PushChannel::PipeOf(const QString& channel)
{
    QString& pubid = pipes_[channel];
    if (pubid.isEmpty())
        pubid = RandomText::Hex(16);
    return pubid;
}

int PushChannel::Queue(const QString& channel, const QString& message, const QString& except)
{
    int reached = 0;
    for (auto& [sessid, session] : sessions_) {
        if (session.channel != channel || sessid == except)
            continue;
        session.messages.push_back(message);
        ++reached;
    }
    changed_.notify_all();
    return reached;
}
