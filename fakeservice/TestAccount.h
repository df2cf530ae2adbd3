#pragma once

// The one account that tests and benchmarks open on the fake service, with
// fixed keys so that failures are reproducible.

#include "fakeservice/FakeRecords.h"

#include <QString>

struct TestAccount {
    static const QString UserId;
    static const QString UserSn;
    static const QString Login;
    static const QString Password;
    static const QString AccessKey;
    static const QString AccessChecksum;
    static const QString MemberToken;

    // The account as FakeState::AddAccount takes it.
    static FakeAccountSpec Spec();
};
