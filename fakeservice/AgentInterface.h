#pragma once

// The agent interface's form posts: checks the access key that starts every
// body, reads the method's fields and answers from the fake's state.
// Application errors are {"status":"0","msg":...}; the HTTP layer around it
// always answers 200 for them.

#include "fakeservice/FakeState.h"
#include "fakeservice/FormFields.h"

#include <QString>

#include <optional>
#include <string>

class AgentInterface {
public:
    // downloadBase: the plain-HTTP address that getFileCheck's get_url starts with.
    AgentInterface(FakeState& state, QString downloadBase);

    // True for the methods answered here.
    static bool Handles(const std::string& method);

    // The account whose access key starts the body: access_key and
    // access_key_checksum must be its first two fields, in this order, and
    // match the account of the URL's user_id; std::nullopt otherwise.
    static std::optional<QString> Authenticate(const FakeState& state, const QString& urlUserId,
                                               const FormFields& fields);

    // The reply body for one call; urlUserId is the user_id of the URL.
    std::string Handle(const std::string& method, const QString& urlUserId, const FormFields& fields);

private:
    using Handler = std::string (AgentInterface::*)(const QString& userId, const FormFields& fields);
    struct Call {
        const char* name;
        Handler handler;
    };
    // The methods answered here, by their names on the wire.
    static const Call Calls[];

    std::string SetAgentInfo(const QString& userId, const FormFields& fields);
    std::string GetAgentInfo(const QString& userId, const FormFields& fields);
    std::string GetMetadata(const QString& userId, const FormFields& fields);
    std::string SetSyncJournal(const QString& userId, const FormFields& fields);
    std::string CommitSyncJournal(const QString& userId, const FormFields& fields);
    std::string GetSyncJournal(const QString& userId, const FormFields& fields);
    std::string GetFileCheck(const QString& userId, const FormFields& fields);

    FakeState& state_;
    QString downloadBase_;
};
