#pragma once

// The member login: signs the agent in with the member's account name and
// password at the account server and obtains, through the signed API (or the
// service's development login in the "DEV" profile), the access key of the
// agent interface. One run walks four steps over HTTPS and reports its
// outcome through the callback.
//
// One run at a time per object; the object is not shared between threads
// (the login thread hands credentials over under its own lock). Abort() may
// be called from any thread.

#include "client/HttpClient.h"
#include "foundation/text/XMap.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class PeltaReg;
class PeltaSyncAgentSetting;

class XApLogin {
public:
    // The steps, in the order they are sent.
    enum Step : int {
        StepToken = 0,
        StepClientAuth = 1,
        StepGrant = 2,
        StepAccess = 3,
        StepDevLogin = 4,
        StepDone = 5,
    };

    // The codes passed to the callback.
    enum Code : int {
        CodeConnecting = 1,     // before the token request
        CodeAuthenticating = 2, // before the password request
        CodeSuccess = 5,
        CodeWrongPassword = 6,  // the account name or the password is wrong
        CodeNotActivated = 7,   // the account is not activated for the service
        CodeFailed = 8,         // any other failure
    };

    using Callback = std::function<void(int code, const QString& message)>;

    static constexpr std::chrono::milliseconds ConnectTimeout{20000};
    static constexpr std::chrono::milliseconds ReadTimeout{30000};
    static const QString SiteId;
    static const QString AccessMethod;

    XApLogin();
    virtual ~XApLogin();
    XApLogin(const XApLogin&) = delete;
    XApLogin& operator=(const XApLogin&) = delete;

    // ---- Set by the caller before Login() ------------------------------------
    void SetCallback(Callback callback) { callback_ = std::move(callback); }
    void SetCredentials(const QString& login, const QString& password);
    // Neither pointer is owned; both must outlive the run.
    void SetStore(PeltaSyncAgentSetting* store) { store_ = store; }
    void SetFacade(PeltaReg* facade) { facade_ = facade; }
    // The account server's two addresses; MemberTokenUrl and ClientAuthUrl
    // unless changed (tests and other server profiles).
    void SetAccountUrls(const QString& memberTokenUrl, const QString& clientAuthUrl);
    // The no-data limit of each step's request.
    void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }

    // One run; true only when every step succeeded and the access key was
    // stored. Reports every outcome through the callback (none when the
    // program is exiting).
    bool Login();

    // Stops a pending request at once; the run then fails. Any thread.
    void Abort();

    int CurrentStep() const { return step_; }
    const QString& Uid() const { return uid_; }
    const QString& Key() const { return key_; }

    // Lower-case hex MD5 of "66895" + authtoken + login + password +
    // "jsonclientauth" (ASCII; any other character counts as "?").
    static QString Checksum(const QString& authToken, const QString& login, const QString& password);
    // The message of a failed client authentication for its result code.
    static QString ClientAuthMessage(int code);
    // The message of a failed grant for its result code.
    static QString GrantMessage(int code);
    // "name=value&..." with every value form encoded.
    static QByteArray ClientAuthBody(const QString& authToken, const QString& login, const QString& password);

private:
    enum class Outcome { Next, Failed };

    struct Request {
        bool post = false;
        QString url;
        QByteArray body;
    };

    Request BuildRequest() const;
    // Sends the request; false (logged and reported) when it failed.
    bool Exchange(const Request& request, QString& reply);
    Outcome HandleReply(const QString& reply);
    Outcome HandleToken(const XMap& reply);
    Outcome HandleClientAuth(const XMap& reply);
    Outcome HandleGrant(const XMap& reply);
    Outcome HandleAccess(const QString& reply);
    Outcome HandleDevLogin(const QString& reply);
    // Stores the key of an access_key_arr object text; false (reported) when
    // the key is missing, its expiry no integer or already past.
    Outcome StoreAccessKey(const XMap& keyArr, const QString& userSn);

    void Report(int code, const QString& message = QString()) const;
    void Fail(const QString& logLine, int code, const QString& message) const;
    // Hides every secret of the run in a text bound for the log.
    QString Scrub(const QString& text) const;
    void Log(const QString& text) const;
    std::unique_ptr<HttpClient> MakeClient() const;

    std::mutex httpLock_;  // guards http_ against Abort() from other threads
    std::unique_ptr<HttpClient> http_;
    std::atomic<bool> abort_{false};
    int step_ = StepToken;
    Callback callback_;
    QString login_;
    QString password_;
    QString authtoken_;
    QString otpw_;
    QString accessToken_;
    QString key_;
    QString uid_;
    PeltaSyncAgentSetting* store_ = nullptr;
    PeltaReg* facade_ = nullptr;
    QString memberTokenUrl_;
    QString clientAuthUrl_;
    std::chrono::milliseconds readTimeout_ = ReadTimeout;
};
