#pragma once

// The signed API: "api.php?api_sig=...&api_key=...&auth=...&method=...",
// where api_sig is the lower-case hex MD5 of secret + api_key + auth +
// method. The query values are taken as they arrive, without decoding, as
// the client inserts them without escaping. Replies are
// {"ok":"true","rsp":{...}} or {"ok":"false","msg":["<code>","<text>"]}.
// Methods: getQuota (auth: the member token) and the login's access request
// (auth: the access token of the grant step), which issues an access key.

#include "fakeservice/FakeState.h"

#include <QString>

#include <string>

class AccountServer;

class SignedApi {
public:
    static constexpr const char* QuotaMethod = "pelta.mirdo.private.getQuota";
    // The member login's access request (see AccountServer).
    static constexpr const char* AccessMethod = "pelta.mirdo.private.tessaron.PCAgentRequestAccess";

    // Failure codes; the client logs in again on the two token codes.
    static constexpr const char* BadApiKeyCode = "1001010001";
    static constexpr const char* BadSignatureCode = "1001010002";
    static constexpr const char* UnknownTokenCode = "1001010003";
    static constexpr const char* ExpiredTokenCode = "1001010004";
    static constexpr const char* UnknownMethodCode = "1001010005";

    SignedApi(FakeState& state, AccountServer& accounts, QString apiKey, QString apiSecret);

    // The signature of a call, as the client must compute it.
    static QString Signature(const QString& secret, const QString& apiKey, const QString& auth,
                             const QString& method);

    // Lower-case hex MD5 of the text's ASCII bytes; other characters count
    // as "?".
    static QString AsciiMd5Hex(const QString& text);

    // The wire name of the method the query names ("getQuota",
    // "PCAgentRequestAccess"), for faults and the call log; the method word
    // itself when it is not known.
    static std::string MethodName(const std::string& query);

    // True for the wire names of the signed API's methods, whose failures
    // take the signed API's form.
    static bool IsSignedMethod(const std::string& method);

    // The reply body to a call with this query.
    std::string Handle(const std::string& query);

    static std::string Failure(const QString& code, const QString& text);

private:
    std::string GetQuota(const QString& auth);
    std::string RequestAccess(const QString& auth);

    FakeState& state_;
    AccountServer& accounts_;
    QString apiKey_;
    QString apiSecret_;
};
