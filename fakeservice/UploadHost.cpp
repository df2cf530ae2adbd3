#include "fakeservice/UploadHost.h"

#include "fakeservice/AgentInterface.h"
#include "fakeservice/DecimalText.h"
#include "fakeservice/FakeMessages.h"
#include "fakeservice/FormDecoder.h"
#include "fakeservice/JsonReply.h"
#include "fakeservice/MultipartBody.h"
#include "fakeservice/NamedEntry.h"
#include "fakeservice/QueryText.h"
#include "fakeservice/TransferEncoding.h"

#include <QStringList>

#include <cstdio>
#include <utility>

namespace {

const QString FileField = QStringLiteral("upload_file");
const QString SyncKeyField = QStringLiteral("sync_journal_key");
const QString SyncChecksumField = QStringLiteral("sync_journal_key_checksum");
const QString ActionField = QStringLiteral("action");
const QString PartSizeField = QStringLiteral("p_size");

std::string MissingReply(const QString& name)
{
    return JsonReply::Error(QString::fromUtf8(FakeMessages::MissingField) + name);
}

std::string Refuse(const char* message, const QString& detail)
{
    std::fprintf(stderr, "fake upload host: %s: %s\n", message, qPrintable(detail));
    return JsonReply::Error(message);
}

// The file part's content, without a copy when it needs no decoding.
std::optional<FakeContent> FileContent(const MultipartPart& part)
{
    if (TransferEncoding::IsIdentity(part.transferEncoding))
        return part.content;
    const std::optional<QByteArray> decoded = TransferEncoding::Decode(part.transferEncoding, part.content.Bytes());
    return decoded ? std::optional<FakeContent>(FakeContent(*decoded)) : std::nullopt;
}

}  // namespace

const UploadHost::Method UploadHost::Methods[] = {
    {"postFile", "POST", &UploadHost::PostFile},
    {"postFile2", "POST", &UploadHost::PostFile2},
    {"putFile", "PUT", &UploadHost::PutFile},
};

UploadHost::UploadHost(FakeState& state, bool strictFormEncoding)
    : state_(state), strictFormEncoding_(strictFormEncoding)
{
}

bool UploadHost::Handles(const std::string& method)
{
    return FindNamed(Methods, method) != nullptr;
}

std::string UploadHost::HttpMethodOf(const std::string& method)
{
    const Method* entry = FindNamed(Methods, method);
    return entry ? entry->httpMethod : std::string();
}

std::string UploadHost::Handle(const MethodRouter::Route& route, UploadBody& body)
{
    const Method* entry = FindNamed(Methods, route.method);
    if (!entry)
        return JsonReply::Error(FakeMessages::UploadActionError);
    return (this->*entry->handler)(QString::fromStdString(route.userId), route, body);
}

std::string UploadHost::PostFile(const QString& userId, const MethodRouter::Route&, UploadBody& body)
{
    const Form form = ReadMultipart(body);
    if (!form.error.isEmpty())
        return Refuse(FakeMessages::MultipartError, form.error);
    if (std::optional<std::string> refusal = Refusal(userId, form.fields))
        return *refusal;
    if (!form.file)
        return JsonReply::Error(FakeMessages::UploadFileMissing);
    return Write(userId, form.fields.Value(SyncKeyField), form.fields.Value(SyncChecksumField),
                 FakeUploadWrite::Replace, *form.file);
}

std::string UploadHost::PostFile2(const QString& userId, const MethodRouter::Route&, UploadBody& body)
{
    const bool multipart = body.IsMultipart();
    const Form form = multipart ? ReadMultipart(body) : ReadForm(body.Content().Bytes());
    if (!form.error.isEmpty())
        return Refuse(multipart ? FakeMessages::MultipartError : FakeMessages::FormEncodingError, form.error);
    if (std::optional<std::string> refusal = Refusal(userId, form.fields))
        return *refusal;
    if (!form.fields.Has(ActionField))
        return MissingReply(ActionField);
    const QString action = form.fields.Value(ActionField);
    if (action == u"size") {
        return Write(userId, form.fields.Value(SyncKeyField), form.fields.Value(SyncChecksumField),
                     FakeUploadWrite::Query, FakeContent());
    }
    if (action != u"transfer")
        return JsonReply::Error(FakeMessages::UploadActionError);
    return PostFile2Transfer(userId, form);
}

std::string UploadHost::PostFile2Transfer(const QString& userId, const Form& form)
{
    const QString missing = form.fields.FirstMissing({"p_size", "p_checksum"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    if (!form.file)
        return JsonReply::Error(FakeMessages::UploadFileMissing);
    const QString partSize = form.fields.Value(PartSizeField);
    if (!AllDigits(partSize) || partSize.toLongLong() != form.file->Size())
        return Refuse(FakeMessages::PartSizeError,
                      QStringLiteral("p_size %1, upload_file %2 bytes").arg(partSize).arg(form.file->Size()));
    return Write(userId, form.fields.Value(SyncKeyField), form.fields.Value(SyncChecksumField),
                 FakeUploadWrite::Append, *form.file);
}

std::string UploadHost::PutFile(const QString& userId, const MethodRouter::Route& route, UploadBody& body)
{
    // <action>&<access key>&<checksum>&<journal key>&<journal checksum>
    const QStringList values = QueryText::Pieces(route.rest);
    if (values.size() != 5)
        return Refuse(FakeMessages::AccessKeyInvalid,
                      QStringLiteral("putFile values: %1").arg(QString::fromStdString(route.rest)));
    FormFields fields;
    fields.Add(QStringLiteral("access_key"), values[1]);
    fields.Add(QStringLiteral("access_key_checksum"), values[2]);
    fields.Add(SyncKeyField, values[3]);
    fields.Add(SyncChecksumField, values[4]);
    if (std::optional<std::string> refusal = Refusal(userId, fields))
        return *refusal;
    if (values[0] == u"size")
        return Write(userId, values[3], values[4], FakeUploadWrite::Query, FakeContent());
    if (values[0] != u"transfer")
        return JsonReply::Error(FakeMessages::UploadActionError);
    return Write(userId, values[3], values[4], FakeUploadWrite::Append, body.Content());
}

UploadHost::Form UploadHost::ReadMultipart(UploadBody& body)
{
    Form form;
    if (!body.IsMultipart()) {
        form.error = QStringLiteral("content type %1").arg(QString::fromStdString(body.ContentType()));
        return form;
    }
    MultipartBody::Result parsed = body.TakeParts();
    if (!parsed.parts) {
        form.error = parsed.error;
        return form;
    }
    const std::vector<MultipartPart>& parts = *parsed.parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const MultipartPart& part = parts[i];
        const bool isFile = part.name == FileField.toLatin1();
        if (isFile && i + 1 != parts.size()) {
            form.error = QStringLiteral("upload_file is not the last part");
            return form;
        }
        if (isFile) {
            form.file = FileContent(part);
            if (!form.file)
                form.error = QStringLiteral("upload_file is not in its transfer encoding");
            return form;
        }
        const std::optional<QByteArray> value = TransferEncoding::Decode(part.transferEncoding, part.content.Bytes());
        const std::optional<QString> text = value ? FormDecoder::StrictUtf8(*value) : std::nullopt;
        if (!text) {
            form.error = QStringLiteral("part %1 is not in its transfer encoding").arg(QString::fromLatin1(part.name));
            return form;
        }
        form.fields.Add(QString::fromLatin1(part.name), *text);
    }
    return form;
}

UploadHost::Form UploadHost::ReadForm(const QByteArray& body) const
{
    Form form;
    FormDecoder::Result decoded = FormDecoder::Decode(body, strictFormEncoding_);
    if (!decoded.fields)
        form.error = decoded.error + QStringLiteral(": ") + QString::fromLatin1(body.left(200));
    else
        form.fields = std::move(*decoded.fields);
    return form;
}

std::optional<std::string> UploadHost::Refusal(const QString& userId, const FormFields& fields) const
{
    if (!AgentInterface::Authenticate(state_, userId, fields))
        return JsonReply::Error(FakeMessages::AccessKeyInvalid);
    const QString missing = fields.FirstMissing({"sync_journal_key", "sync_journal_key_checksum"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    return std::nullopt;
}

std::string UploadHost::Write(const QString& userId, const QString& syncKey, const QString& checksum,
                              FakeUploadWrite write, const FakeContent& bytes)
{
    const FakeUploadResult result = state_.WriteUpload(userId, syncKey, checksum, write, bytes);
    if (!result.message.isEmpty())
        return JsonReply::Error(result.message);
    QJsonObject reply = JsonReply::Success();
    if (write == FakeUploadWrite::Query) {
        reply.insert(QStringLiteral("file_info"),
                     QJsonObject{{QStringLiteral("total_filesize"), QString::number(result.total)}});
    }
    return JsonReply::Text(reply);
}
