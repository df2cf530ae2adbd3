#pragma once

// Constants shared by every unit: addresses, names, registry paths, the code
// tables with their printable names, record and transfer words, and the
// table of the 32 agent settings. All values are fixed at build time.

#include <QString>

#include <array>

// ---- Addresses that do not depend on the server profile -------------------
extern const QString LoginMode;
extern const QString QuotaPageUrl;
extern const QString WebSyncPageUrl;
extern const QString RegisterGuideUrl;
extern const QString FaqUrl;
extern const QString MemberRegisterUrl;
extern const QString UpdateBaseUrl;
extern const QString CheckVersionUrl;  // "%d" takes the current Unix time
extern const QString MemberTokenUrl;
extern const QString ClientAuthUrl;
extern const QString WebSyncPath;      // ends with a blank, used as it stands

// ---- Names and identifiers -------------------------------------------------
extern const QString InstanceMutexName;
extern const QString DefaultProfile;
extern const QString ProgramName;
extern const QString CacheFolderName;
extern const QString SyncRootParentKey;
extern const QString RunRegKey;
extern const QString ProgramRegKey;
extern const QString ShellFoldersRegKey;

// ---- Endpoint roles of the production profile -----------------------------
extern const QString ReleaseServiceUrl;     // agent interface, HTTPS
extern const QString ReleaseUploadUrl;      // upload host, plain HTTP
extern const QString ReleaseWebHomeUrl;     // web home, plain HTTP
extern const QString ReleaseApeHostSuffix;  // "." + push host + "/0/? "
extern const QString ReleaseSignedApiUrl;   // the signed API's "api.php", HTTPS

// ---- The program's key and shared secret for the signed API ---------------
extern const QString ProgramApiKey;     // 32 lower-case hex digits
extern const QString ProgramApiSecret;  // 10 decimal digits; never sent, never logged

// ---- Code tables -----------------------------------------------------------
enum XGOStep : int {
    XGONone = 0,
    XGOSplash = 1,
    XGOLogin = 2,
    XGOMain = 3,
    XGOExit = 4,
    XGODoLogin = 5,
};

enum XMOKind : int {
    XMONOP = 0,
    XMOAdded = 1,
    XMORemoved = 2,
    XMOModified = 3,
    XMORenameOldName = 4,
    XMORenameNewName = 5,
    XMOResyncLocal = 8,
    XMOResyncRemote = 9,
    XMOResyncFull = 10,
    XMOResyncAppStart = 12,
    // A rescan of a folder that restores what the disk lacks instead of
    // removing it (after a replayed folder move whose files may not have
    // arrived yet).
    XMOResyncLocalNoRemoval = 13,
};

enum XICOState : int {
    XICONOP = 0,
    XICOAdd = 1,
    XICOResync = 2,
    XICOSync = 3,
    XICOMod = 4,
    XICOOffline = 5,
    XICODel = 6,
};

enum XSYNCAction : int {
    XSYNCNOP = 0,
    XSYNCFileAdd = 1,
    XSYNCFileMod = 2,
    XSYNCFileDel = 3,
    XSYNCFileMove = 4,
    XSYNCFileGet = 5,
    XSYNCFolderAdd = 6,
    XSYNCFolderMod = 7,
    XSYNCFolderDel = 8,
    XSYNCFolderMove = 9,
    XSYNCFolderGet = 10,
    XSYNCFolderMoveSrc = 11,
    XSYNCFolderMoveDst = 12,
    XSYNCFileMoveSrc = 13,
    XSYNCFileMoveDst = 14,
};

enum XAPECommand : int {
    XAPENOP = 0,
    XAPELogin = 1,
    XAPEJoinChannel = 2,
    XAPECheck = 3,
    XAPEPost = 4,
};

// Names in value order. XMONames covers only the file-action codes 0 to 5.
extern const std::array<const char*, 6> XGONames;
extern const std::array<const char*, 6> XMONames;
extern const std::array<const char*, 7> XICONames;
extern const std::array<const char*, 15> XSYNCNames;
extern const std::array<const char*, 5> XAPENames;

// Printable names for log lines: a value outside its table prints its number.
QString XGOName(int value);
QString XMOName(int value);
QString XICOName(int value);
QString XSYNCName(int value);
QString XAPEName(int value);

// Directory-change action codes 0 to 5 mapped for the monitor; anything else gives 7.
extern const std::array<int, 6> FileActionMap;
int MapFileAction(int code);

// ---- Word arrays -----------------------------------------------------------
enum TransferAction : int { TransferActionTransfer = 0, TransferActionSize = 1, TransferActionChecksum = 2 };
extern const std::array<const char*, 3> TransferActionNames;

enum UploadMethodKind : int { UploadMethodPutFile = 0, UploadMethodPostFile = 1, UploadMethodPostFile2 = 2 };
extern const std::array<const char*, 3> UploadMethodNames;

extern const std::array<const char*, 16> RecordFieldNames;

// ---- Agent settings ---------------------------------------------------------
struct AgentSettingRow {
    const char* name;
    const char* defaultValue;
    const char* registryFlag;  // "1": also kept under the program's registry key
    const char* secondFlag;    // stored, never read
};
extern const std::array<AgentSettingRow, 32> AgentSettingTable;
