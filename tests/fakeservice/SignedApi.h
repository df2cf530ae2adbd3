#pragma once

// The signed API: "api.php?api_sig=...&api_key=...&auth=...&method=...",
// where api_sig is the lower-case hex MD5 of secret + api_key + auth +
// method. The query values are taken as they arrive, without decoding, as
// the client inserts them without escaping. Replies are
// {"ok":"true","rsp":{...}} or {"ok":"false","msg":["<code>","<text>"]}.

#include "tests/fakeservice/FakeState.h"

#include <QString>

#include <string>

class SignedApi {
public:
    static constexpr const char* QuotaMethod = "pelta.mirdo.private.getQuota";

    // Failure codes; the client logs in again on the two token codes.
    static constexpr const char* BadApiKeyCode = "1001010001";
    static constexpr const char* BadSignatureCode = "1001010002";
    static constexpr const char* UnknownTokenCode = "1001010003";
    static constexpr const char* ExpiredTokenCode = "1001010004";
    static constexpr const char* UnknownMethodCode = "1001010005";

    SignedApi(FakeState& state, QString apiKey, QString apiSecret);

    // The signature of a call, as the client must compute it.
    static QString Signature(const QString& secret, const QString& apiKey, const QString& auth,
                             const QString& method);

    // The wire name of the method the query names ("getQuota"), for faults
    // and the call log; the method word itself when it is not known.
    static std::string MethodName(const std::string& query);

    // The reply body to a call with this query.
    std::string Handle(const std::string& query);

    static std::string Failure(const QString& code, const QString& text);

private:
    std::string GetQuota(const QString& auth);

    FakeState& state_;
    QString apiKey_;
    QString apiSecret_;
};
