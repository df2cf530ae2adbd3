#pragma once

// The account server of the member login, and the two last steps that the
// service answers for it:
//  1. GET <member token>?method=invoke_auth -> {"result":"1","authtoken":T}
//  2. POST <client authentication>, the form siteid=66895, authtoken, uid
//     (the login), pw, type=json, chsm = lower-case hex MD5 of
//     "66895" + authtoken + login + password -> {"result":"1","otpw":O};
//     refusals: -91 fields missing or wrong, -92 checksum, -93 login or
//     password, -95 unknown authtoken, -96 expired authtoken.
//  3. GET <member token>?method=grant_auth&otpw=O&client_id=<api key> ->
//     {"result":"1","access_token":A,"uid":<user_id>}; A becomes the
//     account's member token (the auth of the signed API); refusals: 900001
//     fields missing, 100002 client_id, 100012 otpw unknown or expired,
//     100014 account not activated for the service.
//  4. the signed API's access request with auth A (RequestAccess), or in the
//     "DEV" profile GET <service base>/_agent/login2?<login>&<otpw>
//     (DevLogin): a fresh access key that the agent interface accepts from
//     then on.
// Tokens and one-time passwords are random; they last as FakeLoginOptions
// says, on the fake's clock. A one-time password stays valid until it
// expires, as the "DEV" profile uses it twice.

#include "fakeservice/FakeState.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Switches of the login; the defaults give a working login. A result text
// that is not empty replaces the step's answer, also on success.
struct FakeLoginOptions {
    bool numericValues = false;  // result codes and uid as JSON numbers, not texts
    QString tokenResult;         // invoke_auth
    QString authResult;          // ClientAuthentication, e.g. "-94"
    QString grantResult;         // grant_auth, e.g. "100014"
    QString accessStatus;        // the inner status of the access request and of login2
    bool expiredAccessKey = false;  // issue keys whose expiry has passed
    std::int64_t accessKeyLifetime = 86400;  // seconds
    std::int64_t tokenLifetime = 600;        // authtoken and otpw, seconds
    std::int64_t memberTokenLifetime = 0;    // 0: the access token never expires
};

class AccountServer {
public:
    static constexpr const char* MemberTokenPath = "/service/account/QVNMbrToken.php";
    static constexpr const char* ClientAuthPath = "/ZuReg/ClientAuthentication";
    static constexpr const char* DevLoginPath = "/_agent/login2";
    static constexpr const char* SiteId = "66895";

    // clientId: the program's API key, which grant_auth expects.
    AccountServer(FakeState& state, QString clientId);

    void SetOptions(const FakeLoginOptions& options);
    FakeLoginOptions Options() const;

    // The step a request of the account server makes: "invoke_auth",
    // "ClientAuthentication" or "grant_auth"; empty when it names none.
    static std::string StepOf(const std::string& httpMethod, const std::string& target);

    // The reply of the account server to a request of the step.
    std::string Handle(const std::string& step, const std::string& target, const std::string& body);

    // The checksum of the client authentication.
    static QString Checksum(const QString& authToken, const QString& login, const QString& password);

    struct Access {
        const char* refusalCode = nullptr;  // a signed-API failure code, when refused
        QString refusalText;
        QJsonObject rsp;  // status, sn, access_key_arr
    };
    // The signed API's access request with the member's access token.
    Access RequestAccess(const QString& accessToken);

    // login2 of the "DEV" profile; query "<login>&<otpw>".
    std::string DevLogin(const std::string& query);

private:
    struct OneTimePassword {
        QString userId;
        std::int64_t expire = 0;
    };

    std::string InvokeAuth();
    std::string ClientAuthentication(const std::string& body);
    std::string GrantAuth(const std::string& query);
    QString CheckClientAuthentication(const std::string& body, QString& userId);

    // The account of a one-time password that has not expired; empty when
    // there is none.
    QString UserOfOtpw(const QString& otpw) const;

    // Issues a fresh access key to the account; its access_key_arr.
    QJsonObject IssueAccessKey(const QString& userId);
    // Code and Result read the options: never call them with mutex_ held.
    QJsonValue Code(const QString& code) const;
    std::string Result(const QString& code) const;

    FakeState& state_;
    QString clientId_;
    mutable std::mutex mutex_;
    FakeLoginOptions options_;
    std::map<QString, std::int64_t> authTokens_;  // token -> expiry
    std::map<QString, OneTimePassword> otpws_;
};
