#include "foundation/settings/PeltaRegistryFunc.h"

#include "foundation/Constants.h"
#include "foundation/settings/PeltaProxy.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using Type = RegistryValueType;

// A registry object over an in-memory store with the program's key open.
struct OpenProgramKey {
    OpenProgramKey() { EXPECT_TRUE(reg.OpenKey(ProgramRegKey, true)); }

    void Store(const QString& name, Type type, const char* text)
    {
        const QString value = QString::fromUtf8(text);
        switch (type) {
        case Type::String: store->WriteString(ProgramRegKey, name, value); break;
        case Type::ExpandString: store->WriteExpandString(ProgramRegKey, name, value); break;
        case Type::Dword: store->WriteDword(ProgramRegKey, name, value.toUInt()); break;
        case Type::Binary: store->WriteBinary(ProgramRegKey, name, QByteArray(text)); break;
        case Type::None: break;
        }
    }

    // The stored value as text, whatever its type.
    QString Stored(const QString& name) const
    {
        if (auto text = store->ReadString(ProgramRegKey, name))
            return *text;
        if (auto dword = store->ReadDword(ProgramRegKey, name))
            return QString::number(*dword);
        return QString::fromLatin1(store->ReadBinary(ProgramRegKey, name).value_or(QByteArray()));
    }

    std::unique_ptr<RegistryStore> store = RegistryStore::InMemory();
    PeltaRegistryFunc reg{RegistryRoot::CurrentUser, *store};
};

enum class Read { Int, String, Bool };

struct RepairCase {
    Read read;
    Type storedType;  // None: missing
    const char* stored;
    const char* defaultValue;
    const char* result;
    Type typeAfter;
    const char* storedAfter;
};

const RepairCase RepairCases[] = {
    {Read::Int, Type::String, "8080", "0", "8080", Type::Dword, "8080"},
    {Read::Int, Type::String, "", "0", "0", Type::Dword, "0"},
    {Read::Int, Type::String, "abc", "0", "0", Type::Dword, "0"},
    {Read::Int, Type::String, "12abc", "7", "7", Type::Dword, "7"},
    {Read::Int, Type::String, "-1", "0", "-1", Type::Dword, "4294967295"},
    {Read::Int, Type::String, "99999999999", "3", "3", Type::Dword, "3"},
    {Read::Int, Type::Dword, "5", "0", "5", Type::Dword, "5"},
    {Read::Int, Type::ExpandString, "8080", "3", "3", Type::Dword, "3"},
    {Read::Int, Type::Binary, "\x01\x02", "4", "4", Type::Dword, "4"},
    {Read::Int, Type::None, "", "9", "9", Type::Dword, "9"},
    {Read::String, Type::String, "proxy.local", "d", "proxy.local", Type::String, "proxy.local"},
    {Read::String, Type::String, "", "d", "", Type::String, ""},
    {Read::String, Type::Dword, "5", "", "5", Type::Dword, "5"},
    {Read::String, Type::ExpandString, "%HOME%", "", "", Type::String, ""},
    {Read::String, Type::Binary, "\x01", "d", "d", Type::String, "d"},
    {Read::String, Type::None, "", "d", "d", Type::String, "d"},
    {Read::Bool, Type::String, "1", "0", "1", Type::Dword, "1"},
    {Read::Bool, Type::Dword, "2", "1", "0", Type::Dword, "2"},
    {Read::Bool, Type::None, "", "1", "1", Type::Dword, "1"},
};

}  // namespace

TEST(PeltaRegistryFunc, ReadsRepairValuesOfTheWrongType)
{
    OpenProgramKey k;
    auto& store = k.store;
    auto& reg = k.reg;
    const QString name = QStringLiteral("value");
    for (const RepairCase& c : RepairCases) {
        SCOPED_TRACE(testing::Message() << "read " << static_cast<int>(c.read) << " of type "
                                        << static_cast<int>(c.storedType) << " \"" << c.stored << "\"");
        store->DeleteValue(ProgramRegKey, name);
        k.Store(name, c.storedType, c.stored);
        const QString def = QString::fromUtf8(c.defaultValue);
        QString result;
        switch (c.read) {
        case Read::Int: result = QString::number(reg.ReadIntDef(name, def.toInt())); break;
        case Read::String: result = reg.ReadStringDef(name, def); break;
        case Read::Bool: result = reg.ReadBoolDef(name, def == u'1') ? QStringLiteral("1") : QStringLiteral("0"); break;
        }
        EXPECT_EQ(result, QString::fromUtf8(c.result));
        EXPECT_EQ(store->ValueType(ProgramRegKey, name), c.typeAfter);
        EXPECT_EQ(k.Stored(name), QString::fromUtf8(c.storedAfter));
    }
}

TEST(PeltaRegistryFunc, WithoutAnOpenKeyReadsGiveDefaultsAndWriteNothing)
{
    OpenProgramKey k;
    auto& store = k.store;
    auto& reg = k.reg;
    reg.CloseKey();
    EXPECT_EQ(reg.ReadIntDef(QStringLiteral("proxy_port"), 8), 8);
    EXPECT_EQ(reg.ReadStringDef(QStringLiteral("proxy_server"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_FALSE(reg.WriteString(QStringLiteral("x"), QStringLiteral("y")));
    EXPECT_TRUE(store->ValueNames(ProgramRegKey).isEmpty());

    EXPECT_FALSE(reg.OpenKey(QStringLiteral("Software\\Missing"), false));
    EXPECT_FALSE(store->KeyExists(QStringLiteral("Software\\Missing")));
    EXPECT_TRUE(reg.OpenKey(QStringLiteral("\\") + ProgramRegKey, false));
    EXPECT_EQ(reg.CurrentPath(), ProgramRegKey);

    PeltaRegistryFunc machine(RegistryRoot::LocalMachine, *store);
    EXPECT_FALSE(machine.OpenKey(ProgramRegKey, true)) << "the local machine's root holds nothing";
    EXPECT_EQ(machine.ReadStringDef(QStringLiteral("Hostname"), QString()), QString());
    EXPECT_EQ(store->ValueNames(ProgramRegKey), QStringList());
}

TEST(PeltaRegistryFunc, LoadProxyOnAFreshKeyCreatesTheSevenValues)
{
    auto store = RegistryStore::InMemory();
    PeltaRegistryFunc reg(RegistryRoot::CurrentUser, *store);
    PeltaProxy proxy;
    proxy.server = QStringLiteral("stale");
    proxy.port = 1;
    reg.LoadProxy(proxy);

    EXPECT_EQ(proxy.server, QString());
    EXPECT_EQ(proxy.port, 0);
    EXPECT_EQ(proxy.type, 0);
    EXPECT_FALSE(proxy.enable);
    EXPECT_EQ(reg.CurrentPath(), QString()) << "the key is closed again";
    const struct {
        const char* name;
        Type type;
    } expected[] = {
        {"proxy_enable", Type::Dword}, {"proxy_login", Type::String},  {"proxy_pass", Type::String},
        {"proxy_port", Type::Dword},   {"proxy_req_auth", Type::Dword}, {"proxy_server", Type::String},
        {"proxy_type", Type::Dword},
    };
    QStringList names;
    for (const auto& value : expected) {
        const QString name = QString::fromLatin1(value.name);
        names.append(name);
        EXPECT_EQ(store->ValueType(ProgramRegKey, name), value.type) << value.name;
        if (value.type == Type::Dword)
            EXPECT_EQ(store->ReadDword(ProgramRegKey, name), 0u) << value.name;
        else
            EXPECT_EQ(store->ReadString(ProgramRegKey, name), QString()) << value.name;
    }
    EXPECT_EQ(store->ValueNames(ProgramRegKey), names);
}

TEST(PeltaRegistryFunc, LoadProxyNormalisesTheType)
{
    struct Case {
        std::uint32_t enable;
        std::uint32_t storedType;
        int type;
    };
    const Case cases[] = {
        {1, 0, 1}, {1, 7, 0}, {1, 4294967295u, 0}, {0, 0, 0}, {0, 1, 1}, {0, 2, 2}, {1, 3, 3}, {2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "enable " << c.enable << ", type " << c.storedType);
        auto store = RegistryStore::InMemory();
        store->WriteDword(ProgramRegKey, QStringLiteral("proxy_enable"), c.enable);
        store->WriteDword(ProgramRegKey, QStringLiteral("proxy_type"), c.storedType);
        PeltaProxy proxy;
        PeltaRegistryFunc(RegistryRoot::CurrentUser, *store).LoadProxy(proxy);
        EXPECT_EQ(proxy.type, c.type);
        EXPECT_EQ(proxy.enable, c.enable == 1);
    }
}

TEST(PeltaRegistryFunc, SavedProxyLoadsBackWithTypedValues)
{
    auto store = RegistryStore::InMemory();
    // The generic setting writer stores texts; saving turns the numbers into DWORDs.
    store->WriteString(ProgramRegKey, QStringLiteral("proxy_port"), QStringLiteral("1"));
    store->WriteString(ProgramRegKey, QStringLiteral("proxy_enable"), QStringLiteral("0"));
    PeltaProxy saved;
    saved.server = QStringLiteral("proxy.example");
    saved.port = 3128;
    saved.enable = true;
    saved.req_auth = true;
    saved.type = 2;
    saved.login = QStringLiteral("user");
    saved.pass = QStringLiteral("pässword");
    PeltaRegistryFunc(RegistryRoot::CurrentUser, *store).SaveProxy(saved);

    EXPECT_EQ(store->ReadDword(ProgramRegKey, QStringLiteral("proxy_port")), 3128u);
    EXPECT_EQ(store->ReadDword(ProgramRegKey, QStringLiteral("proxy_enable")), 1u);
    EXPECT_EQ(store->ReadDword(ProgramRegKey, QStringLiteral("proxy_type")), 2u);
    EXPECT_EQ(store->ValueType(ProgramRegKey, QStringLiteral("proxy_server")), Type::String);

    PeltaProxy loaded;
    PeltaRegistryFunc(RegistryRoot::CurrentUser, *store).LoadProxy(loaded);
    EXPECT_EQ(loaded.server, saved.server);
    EXPECT_EQ(loaded.port, saved.port);
    EXPECT_EQ(loaded.enable, saved.enable);
    EXPECT_EQ(loaded.req_auth, saved.req_auth);
    EXPECT_EQ(loaded.type, saved.type);
    EXPECT_EQ(loaded.login, saved.login);
    EXPECT_EQ(loaded.pass, saved.pass);
}

// ---- Applying the proxy to a real libcurl handle ----------------------------

namespace {

// Accepts one HTTP connection on a loopback port, records the request head and
// answers 200. Acts as the target server or as the proxy.
class LoopbackListener {
public:
    LoopbackListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 4) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    ~LoopbackListener()
    {
        Stop();
        ::close(fd_);
    }

    int Port() const { return port_; }

    // The request head received (empty when nobody connected).
    std::string Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

private:
    void Serve()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        pollfd waiting{fd_, POLLIN, 0};
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            if (::poll(&waiting, 1, 20) <= 0)
                continue;
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ReadHead(client);
            static const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            (void)::send(client, reply, sizeof reply - 1, MSG_NOSIGNAL);
            ::close(client);
            return;
        }
    }

    void ReadHead(int client)
    {
        char buffer[4096];
        while (request_.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            request_.append(buffer, static_cast<size_t>(n));
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string request_;
};

// A loopback port with nothing listening on it.
int ClosedPort()
{
    LoopbackListener probe;
    return probe.Port();
}

std::string HeaderValue(const std::string& head, const std::string& name)
{
    std::string lower = head;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string key = "\r\n" + name + ":";
    const size_t at = lower.find(key);
    if (at == std::string::npos)
        return {};
    const size_t start = head.find_first_not_of(' ', at + key.size());
    return head.substr(start, head.find("\r\n", start) - start);
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

enum class Route { Direct, ViaProxy, EnvironmentProxyRefused };

struct ApplyCase {
    const char* what;
    bool apply;
    bool enable;
    int type;
    bool reqAuth;
    bool handleHadCredentials;  // the handle was configured with a credentialed proxy before
    Route route;
    const char* proxyAuthorization;
};

const ApplyCase ApplyCases[] = {
    {"not applied: the environment proxy would be used", false, false, 0, false, false,
     Route::EnvironmentProxyRefused, ""},
    {"disabled", true, false, 1, true, false, Route::Direct, ""},
    {"enabled with type 0", true, true, 0, true, false, Route::Direct, ""},
    {"enabled with type 4", true, true, 4, true, false, Route::Direct, ""},
    {"disabled after a credentialed proxy", true, false, 2, true, true, Route::Direct, ""},
    {"type 1 with req_auth", true, true, 1, true, false, Route::ViaProxy, ""},
    {"type 1 after a credentialed proxy", true, true, 1, true, true, Route::ViaProxy, ""},
    {"type 2 with req_auth", true, true, 2, true, false, Route::ViaProxy, "Basic dXNlcjpzM2NyZXQ="},
    {"type 3 with req_auth", true, true, 3, true, false, Route::ViaProxy, "Basic dXNlcjpzM2NyZXQ="},
    {"type 3 without req_auth", true, true, 3, false, false, Route::ViaProxy, ""},
};

}  // namespace

TEST(PeltaProxy, ApplySetsRouteAndCredentialsOnACurlHandle)
{
    for (const ApplyCase& c : ApplyCases) {
        SCOPED_TRACE(c.what);
        ScopedEnvironment env;
        const std::string bogusProxy = "http://127.0.0.1:" + std::to_string(ClosedPort());
        env.Set("http_proxy", bogusProxy);
        env.Set("HTTP_PROXY", bogusProxy);
        env.Set("all_proxy", bogusProxy);
        env.Unset("no_proxy");
        env.Unset("NO_PROXY");

        LoopbackListener listener;
        ASSERT_NE(listener.Port(), 0);
        const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/probe";
        CurlHandle curl(curl_easy_init(), &curl_easy_cleanup);
        ASSERT_TRUE(curl);
        curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 5000L);

        if (c.handleHadCredentials) {
            PeltaProxy earlier;
            earlier.server = QStringLiteral("127.0.0.1");
            earlier.port = ClosedPort();
            earlier.enable = true;
            earlier.req_auth = true;
            earlier.type = 2;
            earlier.login = QStringLiteral("earlier");
            earlier.pass = QStringLiteral("earlier");
            ASSERT_TRUE(earlier.Apply(curl.get()));
        }
        if (c.apply) {
            PeltaProxy proxy;
            proxy.server = QStringLiteral("127.0.0.1");
            proxy.port = listener.Port();
            proxy.enable = c.enable;
            proxy.type = c.type;
            proxy.req_auth = c.reqAuth;
            proxy.login = QStringLiteral("user");
            proxy.pass = QStringLiteral("s3cret");
            ASSERT_TRUE(proxy.Apply(curl.get()));
        }

        const CURLcode code = curl_easy_perform(curl.get());
        const std::string head = listener.Stop();
        switch (c.route) {
        case Route::EnvironmentProxyRefused:
            EXPECT_EQ(code, CURLE_COULDNT_CONNECT);
            EXPECT_EQ(head, "");
            continue;
        case Route::Direct:
            EXPECT_EQ(code, CURLE_OK) << curl_easy_strerror(code);
            EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET /probe HTTP/1.1");
            break;
        case Route::ViaProxy:
            EXPECT_EQ(code, CURLE_OK) << curl_easy_strerror(code);
            EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET " + url + " HTTP/1.1");
            break;
        }
        EXPECT_EQ(HeaderValue(head, "proxy-authorization"), c.proxyAuthorization);
    }
}

TEST(PeltaProxy, SharedProxyHandsOutWholeCopies)
{
    SharedProxy shared;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            PeltaProxy proxy;
            proxy.server = QString::number(i);
            proxy.port = i;
            shared.Set(proxy);
        }
        done = true;
    });
    while (!done) {
        const PeltaProxy copy = shared.Get();
        ASSERT_EQ(copy.server, copy.port == 0 && copy.server.isEmpty() ? QString() : QString::number(copy.port));
    }
    writer.join();
    EXPECT_EQ(shared.Get().port, 1999);
}
