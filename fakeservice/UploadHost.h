#pragma once

// The upload host: the one-shot multipart upload (postFile), the resumable
// one in parts with its size query (postFile2), and the chunked PUT with its
// size query (putFile). Each request names a sync-journal key, whose upload
// buffer it replaces, appends to or reports; the commit of the key later
// stores the buffer as the file's content.
//
// Every request carries the access key and its checksum (checked as for the
// agent interface) and the key with its checksum:
//  - postFile: multipart, text parts access_key, access_key_checksum,
//    sync_journal_key, sync_journal_key_checksum, then the part
//    "upload_file" last; the buffer becomes its content.
//  - postFile2, action "transfer": multipart with the same text parts and
//    action, then p_size, p_checksum and "upload_file" last, which must hold
//    p_size bytes; appended.
//  - postFile2, action "size": a form post (or a multipart without file);
//    the reply tells the buffer's length.
//  - putFile: the URL carries "<action>&<access key>&<checksum>&<journal
//    key>&<journal checksum>" after the method path; "transfer" appends the
//    body, "size" tells the length.
// Text parts are decoded by their Content-Transfer-Encoding
// (quoted-printable among them). Application errors are status "0" with a
// message; success is {"status":"1"}, and for the size queries
// {"status":"1","file_info":{"total_filesize":"<length>"}}.

#include "fakeservice/FakeContent.h"
#include "fakeservice/FakeState.h"
#include "fakeservice/FormFields.h"
#include "fakeservice/MethodRouter.h"
#include "fakeservice/UploadBody.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

class UploadHost {
public:
    UploadHost(FakeState& state, bool strictFormEncoding);

    // True for "postFile", "postFile2" and "putFile".
    static bool Handles(const std::string& method);

    // The HTTP method the upload method comes with: "PUT" for putFile,
    // "POST" for the others; empty for a method not answered here.
    static std::string HttpMethodOf(const std::string& method);

    // The reply to one request whose body arrived whole.
    std::string Handle(const MethodRouter::Route& route, UploadBody& body);

private:
    struct Form {
        FormFields fields;
        std::optional<FakeContent> file;  // the content of "upload_file"
        QString error;                    // why the body was refused, when it was
    };

    using Handler = std::string (UploadHost::*)(const QString& userId, const MethodRouter::Route& route,
                                                UploadBody& body);
    struct Method {
        const char* name;
        const char* httpMethod;
        Handler handler;
    };
    // The methods answered here, by their names on the wire.
    static const Method Methods[];

    std::string PostFile(const QString& userId, const MethodRouter::Route& route, UploadBody& body);
    std::string PostFile2(const QString& userId, const MethodRouter::Route& route, UploadBody& body);
    std::string PostFile2Transfer(const QString& userId, const Form& form);
    std::string PutFile(const QString& userId, const MethodRouter::Route& route, UploadBody& body);

    static Form ReadMultipart(UploadBody& body);
    Form ReadForm(const QByteArray& body) const;

    // The refusal for a body without the access key in front or with a key
    // that is not the account's; std::nullopt when access is granted.
    std::optional<std::string> Refusal(const QString& userId, const FormFields& fields) const;

    std::string Write(const QString& userId, const QString& syncKey, const QString& checksum,
                      FakeUploadWrite write, const FakeContent& bytes);

    FakeState& state_;
    bool strictFormEncoding_;
};
