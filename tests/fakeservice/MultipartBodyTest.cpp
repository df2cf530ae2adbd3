// The multipart reader that uploads stream through: a body read in pieces of
// any size gives the parts of the body read whole, however the pieces fall
// on the delimiters, and a broken body is refused whatever its pieces.

#include "fakeservice/MultipartBody.h"

#include "tests/support/PatternData.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const QByteArray Boundary = "----part-7d3a";

MultipartBody::Result ReadInPieces(const QByteArray& body, qsizetype piece)
{
    MultipartBody reader(Boundary);
    for (qsizetype at = 0; at < body.size(); at += piece)
        reader.Append(body.constData() + at, std::min(piece, body.size() - at));
    return reader.Finish();
}

// Content that holds every prefix of the delimiter, each broken off.
QByteArray NearDelimiters()
{
    QByteArray content;
    const QByteArray separator = "\r\n--" + Boundary;
    for (qsizetype length = 1; length < separator.size(); ++length)
        content += separator.left(length) + "x";
    return content + PatternData(5000) + "\r";
}

TEST(MultipartBodyTest, PiecesOfAnySizeGiveTheSameParts)
{
    const QByteArray file = NearDelimiters();
    const QByteArray body = "preamble\r\n--" + Boundary + "  \r\n"
                            "Content-Disposition: form-data; name=\"p_size\"\r\n"
                            "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                            "12\r\n--" + Boundary + "\r\n"
                            "Content-Disposition: form-data; name=\"empty\"\r\n\r\n"
                            "\r\n--" + Boundary + "\r\n"
                            "Content-Disposition: form-data; name=\"upload_file\"; filename=\"f\"\r\n"
                            "Content-Type: application/octet-stream\r\n\r\n" +
                            file + "\r\n--" + Boundary + "--\r\nepilogue";
    const qsizetype separator = Boundary.size() + 4;
    for (const qsizetype piece : {qsizetype(1), qsizetype(2), separator - 1, separator, separator + 1,
                                  qsizetype(4096), body.size()}) {
        SCOPED_TRACE(piece);
        const MultipartBody::Result result = ReadInPieces(body, piece);
        ASSERT_TRUE(result.parts) << result.error.toStdString();
        const std::vector<MultipartPart>& parts = *result.parts;
        ASSERT_EQ(parts.size(), 3u);
        EXPECT_EQ(parts[0].name, "p_size");
        EXPECT_EQ(parts[0].transferEncoding, "quoted-printable");
        EXPECT_EQ(parts[0].content.Bytes(), "12");
        EXPECT_EQ(parts[1].name, "empty");
        EXPECT_TRUE(parts[1].content.IsEmpty());
        EXPECT_EQ(parts[2].name, "upload_file");
        EXPECT_EQ(parts[2].fileName, QByteArray("f"));
        EXPECT_EQ(parts[2].contentType, "application/octet-stream");
        EXPECT_TRUE(parts[2].content.Bytes() == file) << parts[2].content.Size() << " bytes";
    }
}

TEST(MultipartBodyTest, BrokenBodiesAreRefusedWhateverThePieces)
{
    const QByteArray delimiter = "--" + Boundary;
    const QByteArray named = "Content-Disposition: form-data; name=\"a\"\r\n\r\n";
    struct Case {
        const char* what;
        QByteArray body;
        const char* error;
    } const cases[] = {
        {"no boundary", "just text\r\n--other--\r\n", "no boundary in the body"},
        {"no closing delimiter", delimiter + "\r\n" + named + "value", "the body has no closing delimiter"},
        {"text after a delimiter", delimiter + "x\r\n" + named + "v\r\n" + delimiter + "--",
         "malformed delimiter line"},
        {"ends after a delimiter", delimiter, "malformed delimiter line"},
        {"headers never end", delimiter + "\r\nContent-Disposition: form-data; name=\"a\"\r\n",
         "part headers do not end"},
        {"no name", delimiter + "\r\nContent-Type: text/plain\r\n\r\nv\r\n" + delimiter + "--",
         "a part without a form-data name"},
    };
    for (const Case& c : cases) {
        for (const qsizetype piece : {qsizetype(1), c.body.size()}) {
            const MultipartBody::Result result = ReadInPieces(c.body, piece);
            EXPECT_FALSE(result.parts) << c.what;
            EXPECT_EQ(result.error.toStdString(), c.error) << c.what << ", pieces of " << piece;
        }
    }
}

}  // namespace
