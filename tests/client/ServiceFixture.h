#pragma once

// A service client wired to a running fake service: an account with its
// access key and member token, a registered agent, the process-wide
// endpoints, method paths and signed-API keys pointed at the fake, and a
// settings facade over a temporary data folder. Restores the process-wide
// values it changes.

#include "client/PeltaAPI.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

class ServiceFixture : public ::testing::Test {
protected:
    static inline const QString& UserId = TestAccount::UserId;
    static inline const QString& UserSn = TestAccount::UserSn;
    static inline const QString& AccessKey = TestAccount::AccessKey;
    static inline const QString& AccessChecksum = TestAccount::AccessChecksum;
    static inline const QString& MemberToken = TestAccount::MemberToken;
    static inline const QString AgentKey = QStringLiteral("5f2b9c0e7d1a43b8a6c4e2f0d9b7a531");
    static inline const QString FolderMd5 = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");

    void SetUp() override;
    void TearDown() override;

    // Adds the fixture's agent to the fake, as a registration would.
    void RegisterAgent();

    // The URL of an agent-interface method on the fake, for this account.
    QString MethodUrl(const char* key) const;

    // Everything the process log buffered since the last call (every
    // category), the buffer emptied.
    static QString TakeLog();

    FakeService service_;
    QTemporaryDir dir_;
    ScopedEnvironment env_;
    std::unique_ptr<RegistryStore> store_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting setting_;
    std::unique_ptr<PeltaAPI> api_;

private:
    int savedLogMask_ = 0;
};
