#pragma once

// The fixture of the fake service's host tests: a running service with one
// account, and plain HTTP requests written here (never the client's code),
// so that the fake is checked against the contract alone.

#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <string>

class ServiceHostTest : public ::testing::Test {
public:
    // The form encoding of a form post: letters, digits and "*-._" stay, a
    // blank becomes "+", every other byte "%XX".
    static std::string FormEncode(const QByteArray& bytes);
    // The body as a form post sends it: cut at its first "=", both halves encoded.
    static std::string WireBody(const QString& body);

    // What a request sent with libcurl itself got back.
    struct CurlReply {
        CURLcode code = CURLE_OK;
        long http = 0;
        std::string body;
    };
    // libcurl's write callback: appends the body to the std::string at out.
    static size_t CollectBody(char* data, size_t size, size_t count, void* out);

protected:
    static inline const QString& UserId = TestAccount::UserId;
    static inline const QString& UserSn = TestAccount::UserSn;
    static inline const QString& Login = TestAccount::Login;
    static const QString Password;
    static inline const QString& AccessKey = TestAccount::AccessKey;
    static inline const QString& AccessChecksum = TestAccount::AccessChecksum;
    static inline const QString& MemberToken = TestAccount::MemberToken;
    static const QString AgentKey;

    struct Reply {
        int http = 0;  // 0: no HTTP answer
        std::string body;
        httplib::Headers headers;
        QJsonObject json;  // the body as a JSON object, when it is one
        QJsonArray array;  // the body as a JSON array, when it is one

        QString Text(const char* name) const { return json.value(QLatin1String(name)).toString(); }
        std::string Header(const char* name) const;
    };

    void SetUp() override;

    FakeState& State() { return service_.State(); }

    Reply Get(const std::string& base, const std::string& target, const httplib::Headers& headers = {});
    Reply Post(const std::string& base, const std::string& target, const std::string& body,
               const std::string& contentType = "application/x-www-form-urlencoded");
    Reply Put(const std::string& base, const std::string& target, const std::string& body);

    // A method's path for the account, as the client formats it.
    static std::string PathOf(const std::string& method);

    // An agent-interface call with the account's access key in front.
    Reply Call(const std::string& method, const QString& fields);

    // Registers a file upload of the given size; the reply's sync_journal.
    QJsonObject RegisterFile(const QString& path, qint64 size);
    Reply Commit(const QJsonObject& syncJournal);

    // The upload buffer's length of a key, as the fake holds it.
    qint64 Buffered(const QJsonObject& syncJournal);

    FakeService service_;

private:
    static Reply ToReply(const httplib::Result& result);
};
