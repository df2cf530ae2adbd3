// The push channel's server: login and channel, long polls held until a
// message or the hold time, SEND to the channel's other sessions, the ERR
// codes, and a stop that does not wait for held polls.

#include "tests/fakeservice/ServiceHostTest.h"
#include "tests/support/WaitUntil.h"

#include <QJsonDocument>

#include <chrono>
#include <future>
#include <memory>

namespace {

using namespace std::chrono_literals;

const QString Channel = QStringLiteral("tessaron700001");

class PushChannelTest : public ServiceHostTest {
protected:
    void SetUp() override
    {
        ServiceHostTest::SetUp();
        service_.Push().SetHoldTime(5s);
    }

    struct Session {
        QString sessid;
        QString pipe;
    };

    // One exchange: the command text form encoded, as the only line of a form post.
    Reply Exchange(const QString& commands, int readTimeoutMs = 10000)
    {
        const std::string url = service_.PushUrl();  // "http://host:port/0/?"
        const std::string base = url.substr(0, url.find("/0/"));
        httplib::Client client(base);
        client.set_read_timeout(readTimeoutMs / 1000, (readTimeoutMs % 1000) * 1000);
        const httplib::Result result = client.Post(url.substr(base.size()).c_str(),
                                                   FormEncode(commands.toUtf8()), "application/x-www-form-urlencoded");
        Reply reply;
        if (result) {
            reply.http = result->status;
            reply.body = result->body;
            reply.array = QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).array();
        }
        return reply;
    }

    static QString LoginCommands(const QString& name, const QString& channel)
    {
        return QStringLiteral(R"([{"cmd":"CONNECT","chl":0,"params":{"name":"%1"}},)"
                              R"({"cmd":"JOIN","chl":1,"params":{"channels":"%2"}}])")
            .arg(name, channel);
    }

    static QString CheckCommand(const QString& sessid, int chl = 2)
    {
        return QStringLiteral(R"([{"cmd":"CHECK","chl":%1,"sessid":"%2"}])").arg(chl).arg(sessid);
    }

    static QString SendCommand(const Session& session, const QString& message, int chl = 3)
    {
        return QStringLiteral(R"([{"cmd":"SEND","chl":%1,"params":{"msg":"%2","pipe":"%3"},"sessid":"%4"}])")
            .arg(chl)
            .arg(message, session.pipe, session.sessid);
    }

    Session Join(const QString& name)
    {
        const Reply reply = Exchange(LoginCommands(name, Channel));
        EXPECT_EQ(reply.array.size(), 2) << reply.body;
        return Session{Data(reply, 0).value("sessid").toString(),
                       Data(reply, 1).value("pipe").toObject().value("pubid").toString()};
    }

    std::future<Reply> CheckAsync(const QString& sessid, int readTimeoutMs = 10000)
    {
        return std::async(std::launch::async, [this, sessid, readTimeoutMs] {
            return Exchange(CheckCommand(sessid), readTimeoutMs);
        });
    }

    static QString Raw(const Reply& reply, int index)
    {
        return reply.array.at(index).toObject().value("raw").toString();
    }

    static QJsonObject Data(const Reply& reply, int index)
    {
        return reply.array.at(index).toObject().value("data").toObject();
    }

    static QString ErrorCode(const Reply& reply)
    {
        return Raw(reply, 0) == u"ERR" ? Data(reply, 0).value("code").toString() : QString();
    }

    // Waits until the service holds this many CHECKs.
    void WaitHeld(std::size_t checks)
    {
        ASSERT_TRUE(WaitUntil([&] { return service_.Push().HeldChecks() == checks; }));
    }
};

TEST_F(PushChannelTest, LoginGivesTheSessionAndTheChannelsPipe)
{
    const Reply login = Exchange(LoginCommands("7000011234", "Tessaron700001"));
    ASSERT_EQ(login.http, 200);
    ASSERT_EQ(login.array.size(), 2) << login.body;
    EXPECT_EQ(Raw(login, 0), u"LOGIN");
    EXPECT_FALSE(Data(login, 0).value("sessid").toString().isEmpty());
    EXPECT_EQ(Raw(login, 1), u"CHANNEL");
    const QJsonObject pipe = Data(login, 1).value("pipe").toObject();
    EXPECT_FALSE(pipe.value("pubid").toString().isEmpty());
    EXPECT_EQ(pipe.value("properties").toObject().value("name").toString(), Channel);

    // The same name again: taken. A second agent shares the channel's pipe.
    EXPECT_EQ(ErrorCode(Exchange(LoginCommands("7000011234", Channel))), u"007");
    EXPECT_EQ(Join("7000015678").pipe, pipe.value("pubid").toString());
    EXPECT_EQ(service_.Push().Sessions().size(), 2u);

    const std::vector<QJsonObject> commands = service_.Push().Commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[0].value("cmd").toString(), u"CONNECT");
    EXPECT_EQ(commands[1].value("chl").toInt(), 1);
    EXPECT_EQ(service_.CallCount("CONNECT"), 3u);
}

TEST_F(PushChannelTest, SendWakesTheOtherSessionsHeldCheckOnly)
{
    const Session a = Join("a1");
    const Session b = Join("b1");
    const Session other = [&] {
        const Reply reply = Exchange(LoginCommands("c1", "tessaron999"));
        return Session{Data(reply, 0).value("sessid").toString(), QString()};
    }();
    std::future<Reply> heldB = CheckAsync(b.sessid);
    WaitHeld(1);

    const auto start = std::chrono::steady_clock::now();
    const Reply sent = Exchange(SendCommand(a, "1700000000"));
    EXPECT_EQ(sent.http, 200);
    EXPECT_TRUE(sent.array.isEmpty()) << sent.body;
    const Reply woken = heldB.get();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    ASSERT_EQ(woken.array.size(), 1) << woken.body;
    EXPECT_EQ(Raw(woken, 0), u"DATA");
    EXPECT_EQ(Data(woken, 0).value("msg").toString(), u"1700000000");

    // Neither the sender nor another account's channel gets it.
    service_.Push().SetHoldTime(200ms);
    EXPECT_EQ(Raw(Exchange(CheckCommand(a.sessid)), 0), u"CLOSE");
    EXPECT_EQ(Raw(Exchange(CheckCommand(other.sessid)), 0), u"CLOSE");
}

TEST_F(PushChannelTest, CheckEndsWithTheHoldTimeOrAQueuedMessage)
{
    service_.Push().SetHoldTime(300ms);
    const Session a = Join("a1");
    const auto start = std::chrono::steady_clock::now();
    const Reply idle = Exchange(CheckCommand(a.sessid));
    const auto held = std::chrono::steady_clock::now() - start;
    EXPECT_GE(held, 300ms);
    EXPECT_LT(held, 2s);
    EXPECT_EQ(Raw(idle, 0), u"CLOSE") << idle.body;

    // Messages queued while no CHECK is held wait for the next one.
    EXPECT_EQ(service_.Push().InjectQuota(UserSn, 2048), 1);
    EXPECT_EQ(service_.Push().InjectMessage(Channel, "1700000001"), 1);
    const Reply queued = Exchange(CheckCommand(a.sessid));
    ASSERT_EQ(queued.array.size(), 2) << queued.body;
    EXPECT_EQ(Data(queued, 0).value("msg").toString(), u"newQuota=2048");
    EXPECT_EQ(Data(queued, 1).value("msg").toString(), u"1700000001");
}

TEST_F(PushChannelTest, ErrorsForLostSessionsAndRefusals)
{
    const Session a = Join("a1");
    EXPECT_EQ(ErrorCode(Exchange(CheckCommand("no-such-session"))), u"004");
    EXPECT_EQ(ErrorCode(Exchange(SendCommand(Session{a.sessid, "wrong-pipe"}, "1"))), u"006");

    service_.Push().FailNext("006");
    EXPECT_EQ(ErrorCode(Exchange(CheckCommand(a.sessid))), u"006");

    // A session that expires while its CHECK is held gets 004 at once.
    std::future<Reply> held = CheckAsync(a.sessid);
    WaitHeld(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(service_.Push().ExpireSession(a.sessid));
    EXPECT_EQ(ErrorCode(held.get()), u"004");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(ErrorCode(Exchange(SendCommand(a, "1"))), u"004");

    // The command text must arrive form encoded.
    httplib::Client client(service_.PushUrl().substr(0, service_.PushUrl().find("/0/")));
    const httplib::Result raw = client.Post("/0/?", CheckCommand(a.sessid).toStdString(), "text/plain");
    ASSERT_TRUE(raw);
    EXPECT_NE(raw->body.find("\"ERR\""), std::string::npos) << raw->body;
}

TEST_F(PushChannelTest, MessagesWaitWhenTheHeldCheckWasGivenUp)
{
    const Session a = Join("a1");
    const Session b = Join("b1");
    const Reply abandoned = CheckAsync(b.sessid, 300).get();  // the client stops waiting
    EXPECT_EQ(abandoned.http, 0);
    WaitHeld(0);  // the service notices that nobody waits for it any more

    ASSERT_TRUE(Exchange(SendCommand(a, "1700000002")).array.isEmpty());
    const auto start = std::chrono::steady_clock::now();
    const Reply next = Exchange(CheckCommand(b.sessid, 3));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    ASSERT_EQ(next.array.size(), 1) << next.body;
    EXPECT_EQ(Data(next, 0).value("msg").toString(), u"1700000002");
}

TEST(PushChannelLifecycle, StopIsPromptWhileChecksAreHeld)
{
    auto service = std::make_unique<FakeService>();
    service->Push().SetHoldTime(60s);
    const std::string url = service->PushUrl();
    const std::string base = url.substr(0, url.find("/0/"));
    const auto post = [base](const QString& commands) {
        httplib::Client client(base);
        client.set_read_timeout(30, 0);
        const httplib::Result result = client.Post("/0/?", ServiceHostTest::FormEncode(commands.toUtf8()),
                                                   "application/x-www-form-urlencoded");
        return result ? QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).array() : QJsonArray();
    };
    std::vector<std::future<QJsonArray>> held;
    for (const char* name : {"a1", "b1"}) {
        const QString connect = QStringLiteral(R"([{"cmd":"CONNECT","chl":0,"params":{"name":"%1"}}])").arg(name);
        const QJsonArray login = post(connect);
        const QString sessid = login.at(0).toObject().value("data").toObject().value("sessid").toString();
        held.push_back(std::async(std::launch::async, [post, sessid] {
            return post(QStringLiteral(R"([{"cmd":"CHECK","chl":1,"sessid":"%1"}])").arg(sessid));
        }));
    }
    ASSERT_TRUE(WaitUntil([&] { return service->Push().HeldChecks() == 2; }));

    const auto start = std::chrono::steady_clock::now();
    service.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    for (std::future<QJsonArray>& check : held)
        check.get();
}

}  // namespace
