// MIME part items: the part header, its boundary, headers and body, bodies kept in objects,
// transfer encodings and character sets. The parts marked "from MIMEMsg.nsf" are copied from
// the second memo of that sample (note 0x8FA, "MIME message(with txt attachment)").

#include "NsfTestBytes.h"

#include "nsf/MimePart.h"

#include <QTest>

using namespace tarvik::nsf;
using namespace tarvik::nsf::test;

namespace {

ValueBytes part(std::uint32_t flags, std::uint8_t type, std::string_view boundary,
                std::string_view headers, std::string_view body)
{
    ValueBytes v;
    v.u16(2).u32(flags).u8(type).u8(0);
    v.u16(std::uint16_t(boundary.size() + headers.size() + body.size()));
    v.u16(std::uint16_t(boundary.size())).u16(std::uint16_t(headers.size())).u16(0).u32(0);
    return v.text(boundary).text(headers).text(body);
}

std::string utf8(const char8_t* s)
{
    return std::string(reinterpret_cast<const char*>(s));
}

} // namespace

class TestNsfMime : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void textPartFromSample()
    {
        const auto value = fromHex(
            "02000300000002008b00240030000000000000002d2d3d5f616c7465726e61746976652030303331"
            "3746453334383235373143375f3d0d0a436f6e74656e742d547970653a20746578742f706c61696e3b"
            "20636861727365743d2255532d4153434949220d0a0d0a5468697320697320612074657874206d6573"
            "736167652c20776974682061207478742066696c652061747461636865642e0d0a0d0a0d0a");
        const MimePart p = decodeMimePart(Bytes(value));
        QCOMPARE(p.version, std::uint16_t(2));
        QCOMPARE(p.flags, MimePart::kHasBoundary | MimePart::kHasHeaders);
        QCOMPARE(p.partType, MimePart::kBody);
        QCOMPARE(p.boundary, std::string("--=_alternative 00317FE3482571C7_=\r\n"));
        QCOMPARE(p.headers, std::string("Content-Type: text/plain; charset=\"US-ASCII\"\r\n\r\n"));
        QCOMPARE(p.body,
                 std::string("This is a text message, with a txt file attached.\r\n\r\n\r\n"));
        QCOMPARE(p.byteCountMismatch, std::int64_t(0));
        QVERIFY(!p.bodyInObject());
        QVERIFY(!p.objectName());
        QCOMPARE(mimePartText(p),
                 std::optional<std::string>(
                     "This is a text message, with a txt file attached.\r\n\r\n\r\n"));
    }

    void attachmentPartFromSample()
    {
        const auto value = fromHex(
            "02000f0000000200d3001e00a0000000000000002d2d3d5f6d6978656420303033313746453334383235"
            "373143375f3d0d0a436f6e74656e742d547970653a20746578742f706c61696e3b206e616d653d224e65"
            "77205465787420446f63756d656e742e747874220d0a436f6e74656e742d446973706f736974696f6e3a"
            "206174746163686d656e743b2066696c656e616d653d224e6577205465787420446f63756d656e742e74"
            "7874220d0a436f6e74656e742d5472616e736665722d456e636f64696e673a2062696e6172790d0a0d0a"
            "4e6577205465787420446f63756d656e742e747874");
        const MimePart p = decodeMimePart(Bytes(value));
        QVERIFY(p.bodyInObject());
        QVERIFY(p.flags & MimePart::kSharedObject);
        QCOMPARE(p.objectName(), std::optional<std::string>("New Text Document.txt"));
        // The text is in the attachment's object, not here.
        QVERIFY(!mimePartText(p));
        const MimeHeaderValue disposition =
            parseMimeHeaderValue(*mimeHeader(p.headers, "content-disposition"));
        QCOMPARE(disposition.value, std::string("attachment"));
        QCOMPARE(disposition.parameter("FILENAME"),
                 std::optional<std::string>("New Text Document.txt"));
        // What the caller does with the object's bytes:
        QCOMPARE(mimeText(p.headers, "line one\r\nline two\r\n"),
                 std::optional<std::string>("line one\r\nline two\r\n"));
    }

    void wrongByteCountFromSample()
    {
        // The multipart/alternative prologue of the same memo: its byte count says 1396, the
        // item holds 116 bytes after the header (a stray bit in the sample). The bytes win.
        const auto value = fromHex(
            "020003000000010074051e0054000000000000002d2d3d5f6d6978656420303033313746453334383235"
            "373143375f3d0d0a436f6e74656e742d547970653a206d756c7469706172742f616c7465726e61746976"
            "653b20626f756e646172793d223d5f616c7465726e617469766520303033313746453334383235373143"
            "375f3d220d0a0d0a0d0a");
        const MimePart p = decodeMimePart(Bytes(value));
        QCOMPARE(p.partType, MimePart::kPrologue);
        QCOMPARE(p.byteCount, std::uint16_t(1396));
        QCOMPARE(p.byteCountMismatch, std::int64_t(1396 - 116));
        QCOMPARE(p.body, std::string("\r\n"));
        const MimeHeaderValue type = parseMimeHeaderValue(*mimeHeader(p.headers, "Content-Type"));
        QCOMPARE(type.value, std::string("multipart/alternative"));
        QCOMPARE(type.parameter("boundary"),
                 std::optional<std::string>("=_alternative 00317FE3482571C7_="));
        QVERIFY(!mimePartText(p)); // a prologue has no text of its own
    }

    void damagedParts()
    {
        const FormatError shortHeader = errorOf([] { decodeMimePart(ValueBytes().u16(2).u32(0)); });
        QCOMPARE(shortHeader.kind(), FailureKind::Damaged);
        QCOMPARE(qs(shortHeader.structure()), QStringLiteral("MIME part"));

        ValueBytes tooLong;
        tooLong.u16(2).u32(3).u8(2).u8(0).u16(10).u16(6).u16(200).u16(0).u32(0).text(
            "--x\r\n\r\nabcd");
        const FormatError e = errorOf([&] { decodeMimePart(tooLong); });
        QCOMPARE(e.kind(), FailureKind::Damaged);
        QVERIFY2(qs(e.detail()).contains(QStringLiteral("headers of 200 bytes")), e.what());

        // Boundary and headers exactly filling the item leave an empty body.
        const MimePart full = decodeMimePart(part(3, MimePart::kEpilogue, "--x--\r\n", "", ""));
        QCOMPARE(full.boundary, std::string("--x--\r\n"));
        QVERIFY(full.body.empty());
        QVERIFY(!mimePartText(full));
    }

    void headers()
    {
        const std::string h = "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n"
                              "X-Empty:\r\n"
                              "content-transfer-encoding:  Base64 \r\n"
                              "Subject: first\r\n"
                              "\r\n"
                              "Subject: in the body\r\n";
        QCOMPARE(mimeHeader(h, "Content-Type"),
                 std::optional<std::string>("text/plain; charset=\"utf-8\""));
        QCOMPARE(mimeHeader(h, "CONTENT-TRANSFER-ENCODING"), std::optional<std::string>("Base64"));
        QCOMPARE(mimeHeader(h, "x-empty"), std::optional<std::string>(""));
        QCOMPARE(mimeHeader(h, "Subject"), std::optional<std::string>("first"));
        QVERIFY(!mimeHeader(h, "From"));
        QVERIFY(!mimeHeader("", "Subject"));
        QVERIFY(!mimeHeader("Content-Typo: x\n", "Content-Type"));
        QCOMPARE(mimeHeader("A: 1\nB: 2\n", "B"), std::optional<std::string>("2"));
        QVERIFY(!mimeHeader("A: 1\r\n\r\nB: 2\r\n", "B")); // after the blank line: body
    }

    void headerValues()
    {
        const MimeHeaderValue v = parseMimeHeaderValue(
            "Text/HTML ; Charset = ISO-8859-1; name=\"a;b \\\"c\\\".txt\"; flag; empty=\"\"");
        QCOMPARE(v.value, std::string("text/html"));
        QCOMPARE(v.parameter("charset"), std::optional<std::string>("ISO-8859-1"));
        QCOMPARE(v.parameter("name"), std::optional<std::string>("a;b \"c\".txt"));
        QCOMPARE(v.parameter("empty"), std::optional<std::string>(""));
        QVERIFY(!v.parameter("flag"));
        QCOMPARE(parseMimeHeaderValue("").value, std::string());
        const MimeHeaderValue escaped = parseMimeHeaderValue("a/b; n=\"x\\\";y\"; m=1");
        QCOMPARE(escaped.parameter("n"), std::optional<std::string>("x\";y"));
        QCOMPARE(escaped.parameter("m"), std::optional<std::string>("1"));
    }

    void transferEncodings_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("base64") << QByteArray("base64") << QByteArray("SGVsbG8sIHdvcmxkIQ==")
                                << QByteArray("Hello, world!");
        QTest::newRow("base64 lines and junk")
            << QByteArray(" BASE64 ") << QByteArray("SGVs\r\nbG8s*IHdv\ncmxk\r\nIQ==\r\n")
            << QByteArray("Hello, world!");
        QTest::newRow("base64 pieces glued together")
            << QByteArray("base64") << QByteArray("YQ==YmM=\r\nZA==") << QByteArray("abcd");
        QTest::newRow("base64 without padding")
            << QByteArray("base64") << QByteArray("YWI") << QByteArray("ab");
        QTest::newRow("base64 binary")
            << QByteArray("base64") << QByteArray("/9j/2Q==") << QByteArray("\xFF\xD8\xFF\xD9");
        QTest::newRow("quoted-printable")
            << QByteArray("quoted-printable")
            << QByteArray("size=3D1 caf=E9=20\r\nnext line is jo=\r\nined; soft =  \r\nbreak")
            << QByteArray("size=1 caf\xE9 \r\nnext line is joined; soft break");
        QTest::newRow("quoted-printable bad escapes")
            << QByteArray("Quoted-Printable") << QByteArray("100=% =G1 =4")
            << QByteArray("100=% =G1 =4");
        QTest::newRow("quoted-printable lower-case hex and LF break")
            << QByteArray("quoted-printable") << QByteArray("=e9=\nx=") << QByteArray("\xE9x");
        QTest::newRow("7bit") << QByteArray("7bit") << QByteArray("as =3D is")
                              << QByteArray("as =3D is");
        QTest::newRow("binary") << QByteArray("binary") << QByteArray("\x01\x02")
                                << QByteArray("\x01\x02");
        QTest::newRow("none") << QByteArray("") << QByteArray("plain") << QByteArray("plain");
    }
    void transferEncodings()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, decoded);
        const std::string out = decodeTransferEncoding(body.toStdString(), encoding.toStdString());
        QCOMPARE(QByteArray::fromStdString(out), decoded);
    }

    void unknownTransferEncoding()
    {
        const FormatError e = errorOf([] { decodeTransferEncoding("begin 644 x", "x-uuencode"); });
        QCOMPARE(e.kind(), FailureKind::Unsupported);
        QVERIFY2(qs(e.detail()).contains(QStringLiteral("x-uuencode")), e.what());
    }

    void textOfParts()
    {
        // from MIMEMsg.nsf's third memo: quoted-printable Latin-1
        QCOMPARE(mimeText("Content-Type: text/plain; charset=\"ISO-8859-1\"\r\n"
                          "Content-Transfer-Encoding: quoted-printable\r\n\r\n",
                          "you're performing=20\r\nCaf=E9"),
                 std::optional<std::string>(utf8(u8"you're performing \r\nCaf\u00e9")));
        QCOMPARE(mimeText("Content-Type: text/html; charset=utf-8\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n",
                          "PGI+w6k8L2I+"),
                 std::optional<std::string>(utf8(u8"<b>\u00e9</b>")));
        // No Content-Type: plain US-ASCII text, where a stray 8-bit byte is read as Windows-1252.
        QCOMPARE(mimeText("", "plain \x93quoted\x94"),
                 std::optional<std::string>(utf8(u8"plain \u201cquoted\u201d")));
        QCOMPARE(mimeText("Content-Type: text/plain; charset=Shift_JIS\r\n\r\n", "\x93\xfa"),
                 std::optional<std::string>(utf8(u8"\u65e5")));
        QVERIFY(!mimeText("Content-Type: image/gif\r\n\r\n", "R0lGODlh"));
        QVERIFY(!mimeText("Content-Type: multipart/mixed; boundary=x\r\n\r\n", "preamble"));

        const FormatError e =
            errorOf([] { mimeText("Content-Type: text/plain; charset=klingon-8\r\n\r\n", "x"); });
        QCOMPARE(e.kind(), FailureKind::Unsupported);
        QVERIFY2(qs(e.detail()).contains(QStringLiteral("klingon-8")), e.what());
    }

    void namesFromTheFileInMessagesArePlainText()
    {
        // A charset or transfer encoding from a damaged header may hold any bytes: the message
        // shows them escaped, and a long one shortened, so that it is always plain text.
        const FormatError charset = errorOf(
            [] { mimeText("Content-Type: text/plain; charset=klingon\xA4\x01\"8\r\n\r\n", "x"); });
        QCOMPARE(qs(charset.detail()),
                 QStringLiteral("character set \"klingon\\xA4\\x01\\x228\" is not known"));
        const FormatError encoding =
            errorOf([] { decodeTransferEncoding("x", std::string(100, 'z') + "\xFF"); });
        QCOMPARE(qs(encoding.detail()), QStringLiteral("transfer encoding \"") + QString(64, u'z') +
                                            QStringLiteral("\"... is not known"));
    }
};

QTEST_APPLESS_MAIN(TestNsfMime)
#include "tst_nsfmime.moc"
