#pragma once

// The service client: turns one operation of the service's agent interface
// (or of its signed API) into one HTTP request, classifies the reply and
// keeps the process-wide count of consecutive network failures.
//
// Threads: an instance owns one HTTP client that its calls use. The
// instance is meant for one thread at a time; a call that finds the client
// busy on another thread runs on a client of its own, so concurrent calls
// stay correct. Abort() may be called from any thread.
//
// Every form post is sent at most once, on a connection of its own: a post
// whose connection is lost before the reply may have been carried out, so
// it is never repeated here (see HttpClient); the caller decides.
//
// Network failures never escape: a failed post gives an empty reply and adds
// 1 to NetFailCount; a completed one sets it to 0.

#include "client/HttpClient.h"
#include "foundation/text/PeltaJSON.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/XMap.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class PeltaReg;
class PeltaRecSyncRequest;
class PeltaSyncAgentSetting;

class PeltaAPI : public PeltaJSON {
public:
    static constexpr std::chrono::milliseconds FormConnectTimeout{10000};
    // A form post that moves no byte for this long fails.
    static constexpr std::chrono::milliseconds DefaultIdleTimeout{60000};

    // The out text of a call refused before sending, because a field would
    // not reach the service intact.
    static const QString RefusedFieldText;

    // The reply of a resumable upload (PostFile2, PutFile) whose start lies
    // beyond the end of the file: the service holds more under the journal
    // key than the file has, so its bytes are not this file's. Nothing was
    // sent; the upload must start again from 0 under a fresh journal key,
    // since anything sent under this one would be added to those bytes.
    static const QString FreshKeyNeededText;

    // The signed API's quota method and the failure codes of an invalid
    // token, after which the callers log in again.
    static const QString QuotaMethod;
    static const QString InvalidTokenCode;
    static const QString ExpiredTokenCode;

    // Neither pointer is owned; both must outlive the instance.
    PeltaAPI(PeltaReg* reg, PeltaSyncAgentSetting* setting);
    ~PeltaAPI() override;
    PeltaAPI(const PeltaAPI&) = delete;
    PeltaAPI& operator=(const PeltaAPI&) = delete;

    void SetAgentSetting(PeltaSyncAgentSetting* setting);

    // Stops the pending call at once (a failure like any other), a running
    // upload or download of this instance included, and keeps later calls
    // from being sent until ClearAbort(). Any thread.
    void Abort();
    void ClearAbort();
    bool Aborted() const { return abort_.load(); }

    // The idle limit of the form posts; 0 would let a call wait forever.
    void SetIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }

    // ---- The frame -----------------------------------------------------------
    // One form post of body (wire form below). Empty when the program is
    // exiting or the instance aborted (nothing sent, NetFailCount
    // untouched), or when the post failed (NetFailCount + 1).
    QString HTTPPostForm(const QString& url, const QString& body, bool log);

    // HTTPPostForm, then the reply classification: true with the reply when
    // its "status" is 1; otherwise false with the service's message (empty
    // when there was no answer or none could be read).
    bool CallAgentAPI(const QString& url, const QString& body, bool log, QString& out);

    // CallAgentAPI of EncodeParams(params), logged. A map that would not
    // reach the service intact (FieldsTravelIntact) is refused: nothing is
    // sent, the refusal is logged and out is RefusedFieldText.
    bool CallAgentAPIWithParams(const QString& url, const XMap& params, QString& out);

    // "key=value" for each entry in key order, joined by "&"; raw values.
    static QString EncodeParams(const XMap& params);

    // The service decodes a body once and splits it at every "&" and at the
    // first "=" of each pair, so a key holding "&" or "=", or a value holding
    // "&", cannot arrive as sent ("=", "%", "+" and any other character in a
    // value do). False with the offending key in problem otherwise.
    static bool FieldsTravelIntact(const std::vector<std::pair<QString, QString>>& fields, QString& problem);
    static bool FieldsTravelIntact(const XMap& params, QString& problem);

    // The bytes of a form post's body: cut at its first "=", both parts
    // form-encoded (letters, digits and "*-._" kept, a blank as "+", every
    // other UTF-8 byte as "%XX") and joined by that "=".
    static QByteArray FormWireBody(const QString& body);

    // The lines of text holding "{", joined by "\n"; the whole text when none.
    static QString ExtractJsonLines(const QString& text);

    // Progress handler of the form posts: false (abort) while exiting.
    static bool OnFormWork(std::int64_t received, std::int64_t sent);

    // The workers' online/offline switch by NetFailCount: online -> offline
    // above 5 failures, offline -> online at 0. Never touches any other
    // state (exit, login). Which switch happened, if any.
    enum class OnlineSwitch { None, WentOffline, WentOnline };
    static OnlineSwitch UpdateOnlineState();

    // ---- Logging (secrets masked) --------------------------------------------
    static void Log(const QString& text, LogCategory category = LogGeneral);
    // Debug mode only: the fields of a body, numbered.
    static void LogRequestBody(const QString& body);
    static void LogParamMap(const XMap& params);
    // The URL's path and query and both header blocks of a failed request.
    static void LogHttpDump(const QString& url, const HttpResponse& response);

    // ---- Agent interface: URL and body of each operation ----------------------
    // Each gives the URL and the body; false (logged, body empty) when a
    // value would not reach the service intact, in which case nothing is to
    // be sent.
    bool BuildSetAgentInfo(QString& url, QString& body);
    bool BuildGetAgentInfo(QString& url, QString& body);
    // objType 1 folder, 2 file, 3 version (anything else: file).
    bool BuildGetMetadata(int objType, const QString& path, int recursive, bool recycle, QString& url,
                          QString& body);
    bool BuildSetSyncJournal(const PeltaRecSyncRequest& row, QString& url, QString& body);
    bool BuildCommitSyncJournal(const PeltaRecSyncRequest& row, QString& url, QString& body);
    // resultType 2 "count", 3 "journal", anything else "all".
    bool BuildGetSyncJournal(const QString& lastCommitTime, int resultType, QString& url, QString& body);
    bool BuildGetFileCheck(const PeltaRecSyncRequest& row, QString& url, QString& body);
    // Upload fields: the four key fields (and the action word for postFile2)
    // set in the caller's map; other entries stay.
    QString BuildPostFile(const PeltaRecSyncRequest& row, XMap& fields);
    QString BuildPostFile2(const PeltaRecSyncRequest& row, int actionIndex, XMap& fields);
    // The putFile URL, its five values appended (no form fields).
    QString BuildPutFile(const PeltaRecSyncRequest& row, int actionIndex);

    // The obj_type and action words of a row action.
    static QString SyncObjectType(int action);
    static QString SyncActionWord(int action);

    // ---- Uploads and downloads -------------------------------------------------
    // Every transfer runs on a client of its own with the proxy, the
    // bandwidth limits (UploadBitRate, DownloadBitRate) and OnTransferWork
    // as its progress handler. A transfer key names the running transfer in
    // RequestObject (the row's relative path), where its cancel flag lives;
    // it is registered for the call and removed on every exit. An empty key
    // registers nothing.

    // The unit of the resumable POST's parts and of the chunked PUT.
    static constexpr std::int64_t TransferChunk = 1048576;
    static constexpr std::int64_t MaxChunksPerPart = 16;
    // Of a broken download attempt, this much of the tail is thrown away.
    static constexpr std::int64_t DroppedTail = 204800;
    // A complete answer shorter than this, while more is missing, is an
    // error text and never written to the file.
    static constexpr std::int64_t SmallestDataBody = 1024;
    // A ranged download stops once more than this many attempts failed.
    static constexpr int MaxFailedAttempts = 3;

    // The one-shot multipart POST: the fields in key order, then the whole
    // file as "upload_file". True when the POST completed; reply is its
    // answer. NetFailCount is set to 0 / raised by 1.
    bool HTTPPost(const QString& url, const QString& path, QString& reply, const XMap& fields,
                  const QString& transferKey = QString());

    // The resumable POST in parts of 1 to MaxChunksPerPart chunks
    // (UploadPartSize adapts), from start: the length the service holds
    // under the journal key (the size query's answer; 0 for a new upload).
    // True when every part was accepted; reply is the last part's answer.
    // A start at the end of a non-empty file means the service holds it
    // whole: nothing is sent, true, reply left as the caller had it. A start
    // beyond the end sends nothing and fails with reply FreshKeyNeededText.
    // A file that changes size while it is sent fails.
    bool PostFile2(const QString& url, const QString& path, const QString& transferKey, QString& reply,
                   std::int64_t start, const XMap& fields);

    // The chunked PUT from start; stops at the first chunk the service does
    // not accept. True when every chunk was accepted. A start at or beyond
    // the end of the file: as PostFile2.
    bool PutFile(const QString& url, const QString& path, QString& reply, std::int64_t start,
                 const QString& transferKey = QString());

    // An empty PUT (the putFile size query). True when it completed.
    bool HTTPPut(const QString& url, QString& reply);

    // The plain GET of the whole file into a fresh target; a failure leaves
    // no target behind.
    bool GetFile(const QString& url, const QString& target);

    // The ranged download with resume: the missing tail of target from its
    // length to expectedSize, through target + "_t", at most
    // MaxFailedAttempts + 1 failed attempts. The partial target is tied to
    // version and expectedSize by a note (target + "_v"): a partial of
    // another version or size is discarded and fetched anew. An answer that
    // ignored the Range replaces the target from its start.
    bool HTTPGetFile2(const QString& url, const QString& target, const QString& transferKey,
                      std::int64_t expectedSize, const QString& version = QString());

    // Progress handler of the transfers: false (abort) when the application
    // is not online or the transfer's cancel flag is up; otherwise passes the
    // running byte count to RequestObject.UpdateTransferred.
    static bool OnTransferWork(const std::atomic<bool>* cancel, std::int64_t position);

    // Chunks per part for a part size: min(16, partSize / chunk), at least 1.
    static std::int64_t ChunksPerPart(std::int64_t partSize, std::int64_t chunk = TransferChunk);
    // UploadPartSize after an accepted part, and after a broken upload.
    static std::int64_t GrownPartSize(std::int64_t partSize, std::int64_t chunk = TransferChunk);
    static std::int64_t ShrunkPartSize(std::int64_t partSize, std::int64_t chunk = TransferChunk);

    // ---- Signed API ------------------------------------------------------------
    // Calls go to the process's SignedApiUrl.

    // Lower-case hex MD5 over the ASCII of secret + apiKey + auth + method
    // (a character outside ASCII counts as "?").
    static QString ApiSignature(const QString& secret, const QString& apiKey, const QString& auth,
                                const QString& method);
    // The signed call's URL for the process's API key and secret.
    static QString SignedCallUrl(const QString& auth, const QString& method);

    // The quota query. True with the three figures (MB); false otherwise,
    // message then holding the service's failure code when it sent one.
    bool GetQuota(const QString& auth, double& total, double& used, double& maxFileSize, QString& message);

    static bool IsReloginCode(const QString& code);

    // GetQuota for the callers: the figures stored in QuotaTotal, QuotaUsed
    // and QuotaMaxFileSize on success; no query at all in the "DEV" profile.
    enum class QuotaResult { Stored, Skipped, Failed, LoginNeeded };
    QuotaResult RefreshQuota(const QString& auth, QString& message);

private:
    // The form-post client settings, with this instance's idle limit.
    HttpSettings FormPostSettings() const;
    HttpResponse PostOnClient(const HttpRequest& request);

    QString SettingValue(const char* name) const;
    // base + the method's path formatted with (user_id, Unix time).
    QString MethodUrl(const QString& base, const char* key) const;
    // "access_key=...&access_key_checksum=..." then the fields, in order.
    bool FieldBody(const char* operation, std::vector<std::pair<QString, QString>> fields, QString& body) const;
    bool MapBody(const char* operation, const XMap& params, QString& body) const;
    void SetUploadKeyFields(const PeltaRecSyncRequest& row, XMap& fields) const;

    PeltaReg* reg_;
    std::atomic<PeltaSyncAgentSetting*> setting_;
    std::atomic<bool> abort_{false};
    std::atomic<std::chrono::milliseconds> idleTimeout_{DefaultIdleTimeout};

    std::mutex httpMutex_;  // held while the owned client runs a request
    std::unique_ptr<HttpClient> http_;
};
