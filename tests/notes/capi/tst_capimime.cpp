#include "Checks.h"

#include "notes/capi/MimeStream.h"

#include <QTest>

#include <cstring>

using namespace tarvik::notes::capi;
using tarvik::test::failureOf;

namespace {

// Gives a message in pieces of at most `step` bytes, as MIMEStreamRead gives its buffers.
ChunkReader reader(const QByteArray& message, std::size_t step)
{
    auto pos = std::make_shared<qsizetype>(0);
    return [message, step, pos](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min({step, capacity, std::size_t(message.size() - *pos)});
        std::memcpy(buffer, message.constData() + *pos, n);
        *pos += qsizetype(n);
        return n;
    };
}

QByteArray extract(const QByteArray& message, int part, std::size_t step = 7)
{
    QByteArray out;
    extractMimePart(reader(message, step), part,
                    [&](const char* d, std::size_t n) { out.append(d, qsizetype(n)); });
    return out;
}

const QByteArray mixedMessage =
    "From: a@example.com\r\n"
    "Subject: report\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
    "\r\n"
    "preamble\r\n"
    "--outer\r\n"
    "Content-Type: multipart/alternative; boundary=\"inner\"\r\n"
    "\r\n"
    "--inner\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Gr=FC=DFe,=\r\n"
    " see the report.\r\n"
    "--outer-not-a-boundary\r\n"
    "--inner\r\n"
    "Content-Type: text/html\r\n"
    "\r\n"
    "<p>Gr&uuml;&szlig;e</p>\r\n"
    "--inner--\r\n"
    "--outer\r\n"
    "Content-Type: application/pdf; name=\"=?utf-8?B?QmVyaWNodC5wZGY=?=\"\r\n"
    "Content-Disposition: attachment\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "JVBERi0x\r\n"
    "LjQKJeLj\r\n"
    "--outer\r\n"
    "Content-Type: image/gif\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "R0lGODlh\r\n"
    "--outer\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Disposition: attachment; filename*=utf-8''Notiz%20%C3%BC.txt\r\n"
    "\r\n"
    "line one\r\n"
    "line two\r\n"
    "--outer--\r\n"
    "epilogue\r\n";

} // namespace

class TestCapiMime : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The text is the first plain part; the attachments are the other leaves, with the
    // names their headers give in any of the encodings mail uses. The reader's buffer size
    // changes nothing.
    void textAndAttachments()
    {
        for (std::size_t step : {std::size_t(1), std::size_t(5), std::size_t(4096)}) {
            const MimeContent content = readMimeContent(reader(mixedMessage, step));
            QVERIFY(content.textFailure.isEmpty());
            QCOMPARE(content.text.value_or(QStringLiteral("(none)")),
                     QString::fromUtf8("Grüße, see the report.\r\n--outer-not-a-boundary"));
            QCOMPARE(content.attachments.size(), 3);
            QCOMPARE(content.attachments[0].part, 2);
            QCOMPARE(content.attachments[0].name, QStringLiteral("Bericht.pdf"));
            QCOMPARE(content.attachments[0].type, QStringLiteral("application/pdf"));
            QCOMPARE(content.attachments[1].name, QStringLiteral("part4.gif"));
            QCOMPARE(content.attachments[2].name, QString::fromUtf8("Notiz ü.txt"));
        }
    }

    // An attachment's bytes with its transfer encoding undone, across the reader's pieces;
    // the line break before the next delimiter is not the part's.
    void extractsParts()
    {
        for (std::size_t step : {std::size_t(1), std::size_t(3), std::size_t(1000)}) {
            QCOMPARE(extract(mixedMessage, 2, step), QByteArray("%PDF-1.4\n%\xE2\xE3"));
            QCOMPARE(extract(mixedMessage, 3, step), QByteArray("GIF89a"));
            QCOMPARE(extract(mixedMessage, 4, step), QByteArray("line one\r\nline two"));
        }
        QVERIFY(
            failureOf([&] { extract(mixedMessage, 9); }).contains(QStringLiteral("no part 10")));
    }

    // A message without a plain part gives its HTML as text; one without any text gives none.
    void htmlOnlyAndNoText()
    {
        const QByteArray html = "Content-Type: text/html; charset=utf-8\r\n\r\n"
                                "<html><head><style>p {}</style></head><body>"
                                "<p>One &amp; two</p><div>three<br>four</div>"
                                "<table><tr><td>a</td><td>b</td></tr></table></body></html>\r\n";
        const MimeContent content = readMimeContent(reader(html, 64));
        QCOMPARE(content.text.value_or(QStringLiteral("(none)")),
                 QStringLiteral("One & two\n\nthree\nfour\n\na\tb"));
        QVERIFY(content.attachments.isEmpty());

        const QByteArray image = "Content-Type: image/png\r\n"
                                 "Content-Transfer-Encoding: base64\r\n\r\niVBORw==\r\n";
        const MimeContent none = readMimeContent(reader(image, 64));
        QVERIFY(!none.text);
        QCOMPARE(none.attachments.size(), 1);
        QCOMPARE(extract(image, 0), QByteArray("\x89PNG"));
    }

    // Damage: a multipart never closed, a binary line far longer than any boundary, headers
    // that never end, an unknown encoding. Clear results, no endless reading.
    void damagedMessages()
    {
        QByteArray unclosed = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                              "Content-Type: application/octet-stream\r\n\r\n";
        const QByteArray longLine(300 * 1024, 'x');
        unclosed += longLine;
        const MimeContent content = readMimeContent(reader(unclosed, 8192));
        QCOMPARE(content.attachments.size(), 1);
        QCOMPARE(extract(unclosed, 0, 8192), longLine);

        const QByteArray endlessHeaders =
            QByteArray("X-Filler: ") + QByteArray(2 * 1024 * 1024, 'h');
        QVERIFY(failureOf([&] {
                    readMimeContent(reader(endlessHeaders, 65536));
                }).contains(QStringLiteral("headers never end")));

        const QByteArray unknown = "Content-Type: application/zip\r\n"
                                   "Content-Transfer-Encoding: x-rot13\r\n\r\nabc\r\n";
        QVERIFY(failureOf([&] { extract(unknown, 0); }).contains(QStringLiteral("x-rot13")));
    }

    void encodedWords()
    {
        QCOMPARE(decodeEncodedWords("=?iso-8859-1?Q?Gr=FC=DFe_aus?= =?utf-8?B?S8O2bG4=?= !"),
                 QString::fromUtf8("Grüße ausKöln !"));
        QCOMPARE(decodeEncodedWords("plain"), QStringLiteral("plain"));
        // An unknown character set leaves the word as it was.
        QCOMPARE(decodeEncodedWords("=?x-unknown?Q?abc?="), QStringLiteral("=?x-unknown?Q?abc?="));
    }
};

QTEST_GUILESS_MAIN(TestCapiMime)
#include "tst_capimime.moc"
