#include "foundation/Constants.h"

namespace {
const QString WebHost = QStringLiteral("http://www.tessaron.example");
const QString AccountHost = QStringLiteral("https://member.tessaron.example");
const QString UpdateHost = QStringLiteral("http://update.tessaron.example");

template <std::size_t N>
QString NameOrNumber(const std::array<const char*, N>& names, int value)
{
    if (value < 0 || static_cast<std::size_t>(value) >= N)
        return QString::number(value);
    return QString::fromLatin1(names[static_cast<std::size_t>(value)]);
}
}  // namespace

const QString LoginMode = QStringLiteral("0");
const QString QuotaPageUrl = WebHost + QStringLiteral("/");
const QString WebSyncPageUrl = WebHost + QStringLiteral("/_my2/@SYNC?");
const QString RegisterGuideUrl = WebHost + QStringLiteral("/_front/tessaron.php?page=guide#register");
const QString FaqUrl = WebHost + QStringLiteral("/faq_step_01.php?category=mirdo");
const QString MemberRegisterUrl = AccountHost
    + QStringLiteral("/QVNRegi/member_reg_select.jsp?siteid=50012&service_type=uid&curl=") + WebSyncPageUrl;
const QString UpdateBaseUrl = UpdateHost + QStringLiteral("/download/tessaron/");
const QString CheckVersionUrl = UpdateBaseUrl + QStringLiteral("checkVer.php?%d");
const QString MemberTokenUrl = AccountHost + QStringLiteral("/service/account/QVNMbrToken.php");
const QString ClientAuthUrl = AccountHost + QStringLiteral("/ZuReg/ClientAuthentication");
const QString WebSyncPath = QStringLiteral("/_my2/@SYNC? ");

const QString InstanceMutexName = QStringLiteral("{1C703323-A48D-49D9-A7F9-9FC4FBF382AB}");
const QString DefaultProfile = QStringLiteral("RELEASE");
const QString ProgramName = QStringLiteral("tessaron");
const QString CacheFolderName = QStringLiteral(".tessaron.cache");
const QString SyncRootParentKey = QStringLiteral("@_AASJ_@vtlou7a2wl6459v8iri86j4t");
const QString RunRegKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString ProgramRegKey = QStringLiteral("Software\\Pelta\\Tessaron");
const QString ShellFoldersRegKey =
    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders");

const QString ReleaseServiceUrl = QStringLiteral("https://agent.tessaron.example");
const QString ReleaseUploadUrl = QStringLiteral("http://upload.tessaron.example");
const QString ReleaseWebHomeUrl = WebHost;
const QString ReleaseApeHostSuffix = QStringLiteral(".push.tessaron.example/0/? ");
const QString ReleaseSignedApiUrl = QStringLiteral("https://api.tessaron.example/api.php");

const QString ProgramApiKey = QStringLiteral("5f2b8c41d09e7a36b1c4e8f20a9d6b73");
const QString ProgramApiSecret = QStringLiteral("4820193756");

const std::array<const char*, 6> XGONames = {
    "XGONone", "XGOSplash", "XGOLogin", "XGOMain", "XGOExit", "XGODoLogin",
};
const std::array<const char*, 6> XMONames = {
    "XMONOP", "XMOAdded", "XMORemoved", "XMOModified", "XMORenameOldName", "XMORenameNewName",
};
const std::array<const char*, 7> XICONames = {
    "XICONOP", "XICOAdd", "XICOResync", "XICOSync", "XICOMod", "XICOOffline", "XICODel",
};
const std::array<const char*, 15> XSYNCNames = {
    "XSYNCNOP",        "XSYNCFileAdd",       "XSYNCFileMod",       "XSYNCFileDel",
    "XSYNCFileMove",   "XSYNCFileGet",       "XSYNCFolderAdd",     "XSYNCFolderMod",
    "XSYNCFolderDel",  "XSYNCFolderMove",    "XSYNCFolderGet",     "XSYNCFolderMoveSrc",
    "XSYNCFolderMoveDst", "XSYNCFileMoveSrc", "XSYNCFileMoveDst",
};
const std::array<const char*, 5> XAPENames = {
    "XAPENOP", "XAPELogin", "XAPEJoinChannel", "XAPECheck", "XAPEPost",
};

QString XGOName(int value) { return NameOrNumber(XGONames, value); }
QString XMOName(int value) { return NameOrNumber(XMONames, value); }
QString XICOName(int value) { return NameOrNumber(XICONames, value); }
QString XSYNCName(int value) { return NameOrNumber(XSYNCNames, value); }
QString XAPEName(int value) { return NameOrNumber(XAPENames, value); }

const std::array<int, 6> FileActionMap = {0, 1, 2, 3, 5, 6};

int MapFileAction(int code)
{
    if (code < 0 || static_cast<std::size_t>(code) >= FileActionMap.size())
        return 7;
    return FileActionMap[static_cast<std::size_t>(code)];
}

const std::array<const char*, 3> TransferActionNames = {"transfer", "size", "checksum"};
const std::array<const char*, 3> UploadMethodNames = {"putFile", "postFile", "postFile2"};
const std::array<const char*, 16> RecordFieldNames = {
    "key",        "sn",        "parent",      "name",        "path",   "version", "ctime", "mtime",
    "size",       "agent_key", "req_time",    "commit_time", "update_time", "action", "status", "crc",
};

const std::array<AgentSettingRow, 32> AgentSettingTable = {{
    {"login", "", "0", "0"},
    {"pass", "", "0", "2"},
    {"user_sn", "", "0", "0"},
    {"agent_ver", "", "0", "0"},
    {"agent_key", "", "0", "1"},
    {"agent_name", "", "0", "0"},
    {"agent_name_base64", "", "0", "1"},
    {"sync_folder", "", "1", "0"},
    {"sync_folder_md5sum", "", "0", "1"},
    {"show_desktop_notify", "1", "0", "0"},
    {"install_dir", "", "1", "0"},
    {"setting_time", "0", "0", "0"},
    {"agreement", "0", "0", "0"},
    {"auto_start", "1", "1", "0"},
    {"proxy_server", "", "1", "0"},
    {"proxy_port", "", "1", "0"},
    {"proxy_enable", "0", "1", "0"},
    {"proxy_type", "0", "1", "0"},
    {"proxy_login", "", "1", "0"},
    {"proxy_pass", "", "1", "0"},
    {"proxy_req_auth", "", "1", "0"},
    {"last_login_time", "0", "0", "0"},
    {"last_sync_time", "0", "0", "0"},
    {"first_sync_time", "0", "0", "0"},
    {"dev_update", "0", "1", "0"},
    {"member_access_token", "", "0", "0"},
    {"bw_upload", "10", "0", "0"},
    {"bw_download", "50", "0", "0"},
    {"bw_upload_limit", "0", "0", "0"},
    {"bw_download_limit", "0", "0", "0"},
    {"account_valid", "0", "0", "0"},
    {"user_id", "", "0", "0"},
}};
