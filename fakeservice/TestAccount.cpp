#include "fakeservice/TestAccount.h"

const QString TestAccount::UserId = QStringLiteral("100001");
const QString TestAccount::UserSn = QStringLiteral("700001");
const QString TestAccount::Login = QStringLiteral("demo");
const QString TestAccount::Password = QStringLiteral("secret");
const QString TestAccount::AccessKey = QStringLiteral("a1b2c3d4e5f60718293a4b5c6d7e8f90");
const QString TestAccount::AccessChecksum = QStringLiteral("0f9e8d7c6b5a49382716059483726150");
const QString TestAccount::MemberToken = QStringLiteral("member-token-1");

FakeAccountSpec TestAccount::Spec()
{
    FakeAccountSpec account;
    account.userId = UserId;
    account.userSn = UserSn;
    account.login = Login;
    account.password = Password;
    account.memberToken = MemberToken;
    account.accessKey = AccessKey;
    account.accessKeyChecksum = AccessChecksum;
    return account;
}
