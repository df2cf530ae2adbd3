#pragma once

// Plain values that the fake service keeps and hands to tests.

#include "fakeservice/FakeContent.h"

#include <QString>

#include <cstdint>

// What a test gives to create an account.
struct FakeAccountSpec {
    QString userId;
    QString userSn;
    QString login;
    QString password;
    QString memberToken;
    std::int64_t memberTokenExpire = 0;  // Unix time; 0 never expires
    QString accessKey;
    QString accessKeyChecksum;
    std::int64_t accessKeyExpire = 0;  // Unix time; 0 never expires
    std::int64_t quotaTotalBytes = std::int64_t(10) << 30;
    std::int64_t maxFileSizeBytes = std::int64_t(4) << 30;
    // Whether the member account may use the service; the login's grant
    // step refuses an account that may not (100014).
    bool serviceActivated = true;
};

struct FakeAgent {
    QString agentKey;
    QString nameBase64;
    QString folderMd5;
    QString version;
};

// One folder or file of an account's tree.
struct FakeItem {
    QString path;
    QString key;
    QString parentKey;
    bool isFolder = false;
    std::int64_t version = 0;
    std::int64_t localMtime = 0;
    std::int64_t size = 0;
    FakeContent content;
    bool recycled = false;
};

enum class FakeObjType { File, Folder };
enum class FakeAction { Add, Edit, Recycle, Move, Get };

// One change as a setSyncJournal request describes it.
struct FakeChange {
    FakeObjType objType = FakeObjType::File;
    FakeAction action = FakeAction::Add;
    QString path;      // add, edit, recycle, get
    QString origPath;  // move
    QString destPath;  // move
    std::int64_t localMtime = 0;
    std::int64_t size = 0;
    QString baseVersion;  // edit: the version the agent's copy derives from
};

// One entry of the commit journal.
struct FakeJournalEntry {
    QString agentKey;
    QString commitTime;
    QString objType;  // "file" or "folder"
    QString action;   // "add", "edit", "recycle" or "move"
    QString version;
    QString status = QStringLiteral("1");
    QString path;      // add, edit, recycle
    QString origPath;  // move
    QString destPath;  // move
    std::int64_t localMtime = 0;
    std::int64_t size = 0;
};

// A key issued by setSyncJournal.
struct FakeSyncKey {
    QString key;
    QString checksum;
    std::int64_t expire = 0;
    QString agentKey;
    QString action;   // as sent
    QString objType;  // as sent
    QString reqDesc;  // as sent
    FakeChange change;
    FakeContent upload;
    bool committed = false;
};

// How the upload host writes to a key's upload buffer.
enum class FakeUploadWrite {
    Append,   // a part or a chunk
    Replace,  // a one-shot upload
    Query,    // only the length is asked for
};

// The upload host's result: the refusal text, or the buffer's length.
struct FakeUploadResult {
    QString message;  // empty on success
    std::int64_t total = 0;
};

// The reply to a commit.
struct FakeCommitResult {
    QString message;  // empty on success, otherwise the service's error text
    QString version;
    bool conflict = false;
    QString conflictPath;
};
