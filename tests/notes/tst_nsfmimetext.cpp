// How the .nsf back-end reads a message kept as MIME parts: which parts are its text and which
// its files, HTML as plain text, and header parameters with their encodings undone.

#include "notes/NsfMime.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::notes;

namespace {

nsf::MimePart part(std::string boundary, std::string headers, std::string body = {},
                   std::uint8_t type = nsf::MimePart::kBody)
{
    nsf::MimePart p;
    p.partType = type;
    p.boundary = std::move(boundary);
    p.headers = std::move(headers);
    p.body = std::move(body);
    return p;
}

QString u(const char8_t* s)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(s));
}

std::vector<std::string> typesOf(const MimeMessage& m, const std::vector<std::size_t>& leaves)
{
    std::vector<std::string> out;
    for (std::size_t i : leaves)
        out.push_back(m.leaves[i].contentType);
    return out;
}

} // namespace

class TestNsfMimeText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void textAndFilesOfAMessage()
    {
        // mixed( alternative(plain, html), a named attachment, an unnamed inline picture )
        const std::vector<nsf::MimePart> parts = {
            part("", "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n", "",
                 nsf::MimePart::kPrologue),
            part("--outer\r\n", "Content-Type: multipart/alternative; boundary=inner\r\n\r\n", "",
                 nsf::MimePart::kPrologue),
            part("--inner\r\n", "Content-Type: text/plain; charset=utf-8\r\n\r\n", "plain"),
            part("--inner\r\n", "Content-Type: text/html\r\n\r\n", "<b>html</b>"),
            part("--inner--\r\n", "", "", nsf::MimePart::kEpilogue),
            part("--outer\r\n",
                 "Content-Type: text/plain\r\nContent-Disposition: attachment; "
                 "filename=\"notes.txt\"\r\n\r\n",
                 "file text"),
            part("--outer\r\n", "Content-Type: image/gif\r\nContent-ID: <x>\r\n\r\n", "R0lG"),
            part("--outer--\r\n", "", "", nsf::MimePart::kEpilogue),
        };
        const MimeMessage m = analyseMime(parts);
        QCOMPARE(m.leaves.size(), std::size_t(4));
        // The plain alternative is the text; the attached text file is not.
        QCOMPARE(typesOf(m, m.textLeaves), std::vector<std::string>{"text/plain"});
        QCOMPARE(m.leaves[m.textLeaves[0]].part, std::size_t(2));
        QVERIFY(!m.leaves[1].isFile); // the HTML alternative: text, not a file
        QVERIFY(m.leaves[2].isFile);
        QCOMPARE(m.leaves[2].fileName, QStringLiteral("notes.txt"));
        QVERIFY(m.leaves[2].namedByMessage);
        QVERIFY(m.leaves[3].isFile);
        QCOMPARE(m.leaves[3].fileName, QStringLiteral("image1.gif"));
        QVERIFY(!m.leaves[3].namedByMessage);

        // Without a plain alternative the HTML one is the text.
        const std::vector<nsf::MimePart> htmlOnly = {
            part("", "Content-Type: multipart/alternative; boundary=a\r\n\r\n", "",
                 nsf::MimePart::kPrologue),
            part("--a\r\n", "Content-Type: text/html\r\n\r\n", "<p>x</p>"),
            part("--a\r\n", "Content-Type: text/calendar\r\n\r\n", "BEGIN:VCALENDAR"),
            part("--a--\r\n", "", "", nsf::MimePart::kEpilogue),
        };
        const MimeMessage h = analyseMime(htmlOnly);
        QCOMPARE(typesOf(h, h.textLeaves), std::vector<std::string>{"text/html"});
        QCOMPARE(h.leaves[1].fileName, QStringLiteral("attachment1.ics"));

        // A single part without any header is plain text.
        const MimeMessage single = analyseMime({part("", "", "hello")});
        QCOMPARE(typesOf(single, single.textLeaves), std::vector<std::string>{"text/plain"});
    }

    void damagedStructureLosesNothing()
    {
        // A part whose boundary names no open multipart, and a multipart never closed: every
        // body part is still there, the texts in order.
        const std::vector<nsf::MimePart> parts = {
            part("", "Content-Type: multipart/mixed; boundary=m\r\n\r\n", "",
                 nsf::MimePart::kPrologue),
            part("--m\r\n", "Content-Type: text/plain\r\n\r\n", "first"),
            part("--unknown\r\n", "Content-Type: text/plain\r\n\r\n", "second"),
            part("--m\r\n", "Content-Type: application/pdf; name=a.pdf\r\n\r\n", "%PDF"),
        };
        const MimeMessage m = analyseMime(parts);
        QCOMPARE(m.leaves.size(), std::size_t(3));
        QCOMPARE(m.textLeaves.size(), std::size_t(2));
        QCOMPARE(m.leaves[m.textLeaves[0]].part, std::size_t(1));
        QCOMPARE(m.leaves[m.textLeaves[1]].part, std::size_t(2));
        QVERIFY(m.leaves[2].isFile);
        QCOMPARE(m.leaves[2].fileName, QStringLiteral("a.pdf"));
        QVERIFY(analyseMime({}).leaves.empty());
    }

    void htmlAsText()
    {
        QCOMPARE(htmlToText(u"<html><head><title>T</title><style>p{}</style></head>"
                            u"<body><p>One  two\r\n three</p><p>Four<br>five</p>"
                            u"<script>alert('x')</script></body></html>"),
                 QStringLiteral("One two three\n\nFour\nfive"));
        // Character references, non-breaking spaces as spaces that are kept, a '<' that is no tag.
        QCOMPARE(htmlToText(u"a &lt; b &amp;&amp; caf&eacute; &#8364;&#x41;&nbsp;&nbsp;x &bogus; "
                            u"< c"),
                 u(u8"a < b && caf\u00e9 \u20acA  x &bogus; < c"));
        // Rows on lines of their own, cells apart by tabs; comments left out; <pre> as it is.
        QCOMPARE(htmlToText(u"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"
                            u"<!-- hidden <p>no</p> --><pre>  x\r\n   y</pre>"),
                 QStringLiteral("a\tb\nc\n  x\n   y"));
        // A reference out of range is the replacement character, never a broken string.
        QCOMPARE(htmlToText(u"&#xD800;&#1114112;"), u(u8"\ufffd\ufffd"));
        QCOMPARE(htmlToText(u"<p>unclosed <b"), QStringLiteral("unclosed"));
    }

    void headerParameters()
    {
        QCOMPARE(mimeParameter("attachment; filename=\"report 1.pdf\"", "filename"),
                 QStringLiteral("report 1.pdf"));
        QCOMPARE(mimeParameter("attachment; FILENAME=plain.txt", "filename"),
                 QStringLiteral("plain.txt"));
        // RFC 2231: a character set, and continuations in order whatever their order stored.
        QCOMPARE(mimeParameter("attachment; filename*=iso-8859-1'de'Gr%FC%DFe.txt", "filename"),
                 u(u8"Gr\u00fc\u00dfe.txt"));
        QCOMPARE(mimeParameter("attachment; filename*1=\"two.txt\"; "
                               "filename*0*=utf-8''%C3%A9t%C3%A9-",
                               "filename"),
                 u(u8"\u00e9t\u00e9-two.txt"));
        // RFC 2047 in a quoted parameter, as many mailers write it.
        QCOMPARE(mimeParameter("attachment; filename=\"=?utf-8?B?w6l0w6kucGRm?=\"", "filename"),
                 u(u8"\u00e9t\u00e9.pdf"));
        QCOMPARE(mimeParameter("inline", "filename"), QString());
    }

    void encodedWords()
    {
        // White space between two encoded words goes; around plain text it stays.
        QCOMPARE(decodeEncodedWords("=?iso-8859-1?Q?Caf=E9_au?= =?utf-8?B?bGFpdA==?= ok"),
                 u(u8"Caf\u00e9 aulait ok"));
        // An unknown character set is read as Windows-1252, a word that is no word stays.
        QCOMPARE(decodeEncodedWords("=?x-unknown?Q?=93q=94?="), u(u8"\u201cq\u201d"));
        QCOMPARE(decodeEncodedWords("=?utf-8?X?abc?= =?broken"),
                 QStringLiteral("=?utf-8?X?abc?= =?broken"));
        // Raw bytes: UTF-8 where they are, else Windows-1252.
        QCOMPARE(decodeEncodedWords("\xC3\xA9t\xC3\xA9"), u(u8"\u00e9t\u00e9"));
        QCOMPARE(decodeEncodedWords("caf\xE9"), u(u8"caf\u00e9"));
    }
};

QTEST_GUILESS_MAIN(TestNsfMimeText)
#include "tst_nsfmimetext.moc"
