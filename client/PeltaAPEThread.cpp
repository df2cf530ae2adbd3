#include "client/PeltaAPEThread.h"

#include "client/PeltaAPI.h"
#include "foundation/text/JsonValue.h"
#include "foundation/text/PeltaJSON.h"
#include "foundation/text/TimeHelpers.h"

#include <QDate>
#include <QTime>

#include <algorithm>

namespace {

constexpr std::int64_t NameModulus = 10000000;
const QString QuotaPrefix = QStringLiteral("newQuota=");

QString Quoted(const QString& value)
{
    return u'"' + value + u'"';
}

QString Banner(const QString& kind, const QString& what)
{
    return QStringLiteral("================  APE ") + kind + u' ' + what + QStringLiteral("  =================\n");
}

}  // namespace

PeltaAPEThread::PeltaAPEThread(Clock clock, Timing timing)
    : WorkerThread(QStringLiteral("XApePush")),
      clock_(clock ? std::move(clock) : Clock([] { return SteadyClock::now(); })),
      timing_(timing)
{
    HTTPInit();
}

PeltaAPEThread::~PeltaAPEThread()
{
    StopAndJoin();
}

// ---- Addresses and names -------------------------------------------------------------

std::int64_t PeltaAPEThread::Shard(std::int64_t userSn, const QDateTime& now)
{
    const QDateTime switchTime(QDate(2012, 5, 3), QTime(0, 0));  // local time
    return now > switchTime ? userSn % 16 : userSn % 2;
}

QString PeltaAPEThread::PushUrl(const QString& userSn, const QDateTime& now, const QString& profile,
                                const QString& suffix)
{
    if (profile == QLatin1String("DEV") && suffix.contains(QLatin1String("http"), Qt::CaseInsensitive))
        return suffix.trimmed() + u' ';
    const std::int64_t shard = Shard(userSn.toLongLong(), now);
    const QString hex = shard < 0 ? u'-' + QString::number(-shard, 16) : QString::number(shard, 16);
    return QStringLiteral("http://") + hex + suffix;
}

QString PeltaAPEThread::MakeName(const QString& userSn, std::int64_t unixTime)
{
    return userSn + QString::number(unixTime % NameModulus);
}

QString PeltaAPEThread::ChannelName(const QString& userSn)
{
    return ProgramName.left(8) + userSn;
}

QString PeltaAPEThread::SessId() const
{
    std::lock_guard<std::mutex> guard(textLock_);
    return sessid_;
}

QString PeltaAPEThread::Pipe() const
{
    std::lock_guard<std::mutex> guard(textLock_);
    return pipe_;
}

QString PeltaAPEThread::Name() const
{
    std::lock_guard<std::mutex> guard(textLock_);
    return name_;
}

// ---- Protocol --------------------------------------------------------------------------

QString PeltaAPEThread::BuildCommand(XAPECommand kind)
{
    std::lock_guard<std::mutex> guard(textLock_);
    QString text;
    switch (kind) {
    case XAPELogin:
        text = QStringLiteral("[{\"cmd\":\"CONNECT\",\"chl\":") + QString::number(chl_)
               + QStringLiteral(",\"params\":{\"name\":") + Quoted(name_) + QStringLiteral("}},{\"cmd\":\"JOIN\",\"chl\":")
               + QString::number(chl_ + 1) + QStringLiteral(",\"params\":{\"channels\":") + Quoted(channels_)
               + QStringLiteral("}}]");
        chl_ += 2;
        break;
    case XAPECheck:
        text = QStringLiteral("[{\"cmd\":\"CHECK\",\"chl\":") + QString::number(chl_) + QStringLiteral(",\"sessid\":")
               + Quoted(sessid_) + QStringLiteral("}]");
        ++chl_;
        break;
    case XAPEPost:
        text = QStringLiteral("[{\"cmd\":\"SEND\",\"chl\":") + QString::number(chl_)
               + QStringLiteral(",\"params\":{\"msg\":") + Quoted(QString::number(UnixTimeNow()))
               + QStringLiteral(",\"pipe\":") + Quoted(pipe_) + QStringLiteral("},\"sessid\":") + Quoted(sessid_)
               + QStringLiteral("}]");
        ++chl_;
        break;
    default:
        return QString();
    }
    lastCommand_ = kind;
    return text;
}

bool PeltaAPEThread::HandleResponse(const QString& reply)
{
    const XAPECommand entryState = state_.load();
    const JsonValue root = JsonValue::Parse(reply);
    // Only an array is an answer; anything else (an empty body, an error
    // page) means the exchange did not work.
    if (!root.IsArray())
        return false;
    bool ok = true;
    for (std::size_t i = 0; i < root.Size() && ok; ++i) {
        const JsonValue element = root.At(i);
        const QString raw = element.ObjectToMap()[QStringLiteral("raw")];
        const JsonValue data = element.FindObject(QStringLiteral("data"));
        const XMap fields = data.ObjectToMap();
        if (raw == QLatin1String("LOGIN")) {
            const auto sessid = fields.find(QStringLiteral("sessid"));
            if (sessid != fields.end() && !sessid->second.isEmpty()) {
                std::unique_lock<std::mutex> guard(textLock_);
                const bool replaced = !sessid_.isEmpty() && sessid_ != sessid->second;
                sessid_ = sessid->second;
                state_ = XAPECheck;
                guard.unlock();
                if (replaced) {
                    // Notices sent to the old session are not read by anyone.
                    ++JournalRequestCount;
                    evtRequestSyncJournal.Set();
                }
            }
        } else if (raw == QLatin1String("CHANNEL")) {
            const JsonValue pipe = data.FindObject(QStringLiteral("pipe"));
            const QString name = pipe.FindObject(QStringLiteral("properties")).ObjectToMap()[QStringLiteral("name")];
            if (name == channels_.toLower()) {
                std::lock_guard<std::mutex> guard(textLock_);
                pipe_ = pipe.ObjectToMap()[QStringLiteral("pubid")];
                state_ = XAPECheck;
            }
        } else if (raw == QLatin1String("ERR")) {
            ok = HandleError(fields.count(QStringLiteral("code")) ? fields.at(QStringLiteral("code")) : QString());
        } else if (raw == QLatin1String("DATA")) {
            HandleData(data);
        }
    }
    // The login was lost while a SEND went out: send it again after the new login.
    if (entryState == XAPEPost && state_.load() == XAPELogin)
        pending_ = XAPEPost;
    return ok;
}

bool PeltaAPEThread::HandleError(const QString& code)
{
    if (code == QLatin1String("004") || code == QLatin1String("007")) {
        if (code == QLatin1String("007")) {
            std::lock_guard<std::mutex> guard(textLock_);
            name_ = MakeName(userSn_, UnixTimeNow());
        }
        state_ = XAPELogin;
        Sleep(static_cast<int>(timing_.errorWait.count()));
        return false;
    }
    return code != QLatin1String("006");
}

void PeltaAPEThread::HandleData(const JsonValue& data)
{
    ++JournalRequestCount;
    const QString msg = data.ObjectToMap()[QStringLiteral("msg")];
    if (msg.startsWith(QuotaPrefix)) {
        QuotaCheckTime = SteadyTime{};
        bool integer = false;
        const qlonglong total = msg.mid(QuotaPrefix.size()).toLongLong(&integer);
        if (integer) {
            QuotaTotal = static_cast<float>(total);
            Log(QStringLiteral("APE:newQuota:") + QString::number(total), LogGeneral);
        }
    }
    evtRequestSyncJournal.Set();
    Log(QStringLiteral("APE:event:evtRequestQueue"), LogEvent);
}

// ---- Bookkeeping --------------------------------------------------------------------------

void PeltaAPEThread::RecordOutcome(bool failed)
{
    if (failed) {
        ++NetFailCount;
        ++ApeErrCount;
        if (++consecutiveFailures_ > FailuresBeforeOnline) {
            consecutiveFailures_ = 0;
            // Only offline goes back to online: an exit or a login stays.
            XAPPState expected = XAPPOffline;
            AppState.compare_exchange_strong(expected, XAPPOnline);
        }
        return;
    }
    const SteadyTime now = Now();
    const SteadyTime lastOk = LastApeOkTime.load();
    if (lastOk == SteadyTime{} || now - lastOk > timing_.silence) {
        // Notices may have been missed while the channel was down.
        ++JournalRequestCount;
        evtRequestSyncJournal.Set();
    }
    LastApeOkTime = now;
    NetFailCount = 0;
    ApeErrCount = 0;
    consecutiveFailures_ = 0;
}

std::chrono::milliseconds PeltaAPEThread::BackoffDelay(SteadyTime start) const
{
    const auto taken = std::chrono::duration_cast<std::chrono::seconds>(Now() - start);
    const auto period = timing_.failurePeriod;
    const auto clamped = std::clamp(taken, std::chrono::seconds(0), period);
    return period - clamped;
}

// ---- Control --------------------------------------------------------------------------------

void PeltaAPEThread::SendPost()
{
    if (stopping_.load() || Terminated() || !Running() || AppState == XAPPExit)
        return;
    pending_ = XAPEPost;
    const SteadyTime last = lastSend_.load();
    if (last == SteadyTime{} || Now() - last >= timing_.sendInterval) {
        Log(QStringLiteral("APE Send Post"));
        Stop();
    } else {
        Log(QStringLiteral("APE Send Post too soon, skip"));
    }
}

void PeltaAPEThread::Stop()
{
    stopping_ = true;
    if (Terminated() || !Running())
        return;
    if (ApeErrCount > 0) {
        Log(QStringLiteral("APE Try Stop, but network error, skip"));
        return;
    }
    Interrupt();
}

void PeltaAPEThread::Terminate()
{
    WorkerThread::Terminate();
    Interrupt();
}

void PeltaAPEThread::ReloadProxy()
{
    rebuild_ = true;
    Stop();
}

void PeltaAPEThread::Interrupt()
{
    std::lock_guard<std::mutex> guard(httpLock_);
    interrupt_ = true;
    if (http_)
        http_->Wake();
}

void PeltaAPEThread::HTTPInit()
{
    Log(QStringLiteral("APE HTTPInit"));
    if (state_.load() == XAPEPost)
        pending_ = XAPEPost;  // an interrupted SEND is repeated
    posts_ = 0;
    ApeErrCount = 0;
    HttpSettings settings;
    settings.connectTimeout = std::chrono::milliseconds(20000);
    settings.readTimeout = timing_.readTimeout;
    settings.headers = {"Connection: keep-alive", "Proxy-Connection: keep-alive", "Cache-Control: no-cache",
                        "Pragma: no-cache"};
    auto http = std::make_unique<HttpClient>();
    http->Configure(settings);
    http->SetAbortFlag(&interrupt_);
    {
        std::lock_guard<std::mutex> guard(httpLock_);
        http_ = std::move(http);
    }
    state_ = XAPELogin;
}

void PeltaAPEThread::HTTPReset()
{
    {
        // Releasing the client closes its connections.
        std::lock_guard<std::mutex> guard(httpLock_);
        http_.reset();
    }
    HTTPInit();
}

// ---- The loop ----------------------------------------------------------------------------------

QString PeltaAPEThread::ChooseCommand(XAPECommand& kind)
{
    if (state_.load() == XAPENOP) {
        state_ = XAPELogin;
    } else {
        XAPECommand same = state_.load();
        pending_.compare_exchange_strong(same, XAPENOP);
    }
    if (state_.load() == XAPELogin) {
        kind = XAPELogin;
        return BuildCommand(kind);
    }
    const XAPECommand pending = pending_.exchange(XAPENOP);
    if (pending == XAPEPost) {
        state_ = XAPEPost;
        lastSend_ = Now();
        kind = XAPEPost;
        return BuildCommand(kind);
    }
    kind = pending == XAPENOP ? state_.load() : pending;
    return BuildCommand(kind);
}

PeltaAPEThread::ExchangeResult PeltaAPEThread::Exchange(const QString& text, const QString& kindName)
{
    ExchangeResult result;
    AppLog.SignalIfPending();
    ++posts_;
    const SteadyTime start = SteadyClock::now();
    HttpResponse response;
    {
        HttpRequest request;
        request.method = HttpRequest::Method::Post;
        request.url = url_.trimmed();
        request.body = PeltaAPI::FormWireBody(text);
        request.headers = {"Content-Type: application/x-www-form-urlencoded"};
        response = http_->Perform(request);
    }
    if (response.Ok()) {
        const QString reply = QString::fromUtf8(response.body);
        Log(Banner(kindName, QStringLiteral("Resp")) + reply + u'\n');
        result.failed = !HandleResponse(reply);
        return result;
    }
    if (!response.completed && interrupt_.load()) {
        // Our own interruption (a SEND to go out, a stop): no failure.
        Log(Banner(kindName, QStringLiteral("Resp, Interrupted")));
        return result;
    }
    if (!response.completed && SteadyClock::now() - start >= timing_.readTimeout) {
        Log(Banner(kindName, QStringLiteral("Resp, EReadTimeout")) + QStringLiteral("Normal Read Timeout\n"));
        result.timedOut = true;
        return result;
    }
    // A closed connection, a refused one, an HTTP error: the exchange failed.
    Log(Banner(kindName, QStringLiteral("Resp, Exception")) + response.error + u'\n'
        + QString::fromUtf8(response.body) + u'\n');
    result.failed = true;
    return result;
}

void PeltaAPEThread::Execute()
{
    chl_ = 0;
    state_ = XAPELogin;
    pending_ = XAPENOP;
    lastCommand_ = XAPENOP;
    consecutiveFailures_ = 0;
    Log(QStringLiteral("APE Thread Start"));
    while (!Terminated()) {
        stopping_ = false;
        interrupt_ = false;
        if (Terminated())
            break;
        if (rebuild_.exchange(false)) {
            Log(QStringLiteral("PeltaAPE::Recreate HTTP Object"));
            HTTPReset();
        }
        XAPECommand kind = XAPENOP;
        const QString text = ChooseCommand(kind);
        if (text.isEmpty()) {
            Sleep(static_cast<int>(timing_.minGap.count()));
            continue;
        }
        const QString kindName = XAPEName(kind);
        Log(Banner(kindName, QStringLiteral("Send")) + text + u'\n');
        const SteadyTime start = Now();
        ExchangeResult result = Exchange(text, kindName);
        if (result.timedOut && state_.load() != XAPECheck && state_.load() != XAPEPost)
            result.failed = true;
        if (Terminated() && result.timedOut)
            break;
        RecordOutcome(result.failed);
        if (Terminated() || AppState == XAPPExit)
            break;
        AfterExchange(result, start);
    }
    Log(QStringLiteral("APE Thread Stop"));
}

void PeltaAPEThread::AfterExchange(const ExchangeResult& result, SteadyTime start)
{
    if (result.failed) {
        if (pending_.load() != XAPEPost) {
            const std::chrono::milliseconds wait = BackoffDelay(start);
            Log(QStringLiteral("Sleep for ") + QString::number(wait.count() / 1000) + QStringLiteral(" sec"));
            Sleep(static_cast<int>(wait.count()));
        }
    } else {
        // A login exchange that brought no LOGIN reply stays a login.
        if (state_.load() != XAPELogin) {
            const XAPECommand pending = pending_.exchange(XAPENOP);
            state_ = pending != XAPENOP ? pending : XAPECheck;
        }
        // Keeps a server that answers at once from making the loop spin.
        if (pending_.load() != XAPEPost && Now() - start < timing_.minGap)
            Sleep(static_cast<int>(timing_.minGap.count()));
    }
    if (posts_.load() > MaxPostsPerClient || ApeErrCount > MaxErrorsPerClient) {
        Log(QStringLiteral("PeltaAPE::Recreate HTTP Object"));
        HTTPReset();
    }
}

void PeltaAPEThread::Log(const QString& text, int category)
{
    AppLog.Write(text, category);
}
