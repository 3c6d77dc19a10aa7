// Messages written by RdoMail, read back by GMime and by Python's email package.

#include "EmlCheck.h"
#include "base/OperationError.h"
#include "mail/GMimeHandles.h"
#include "mail/MailComposer.h"
#include "mail/RdoSession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvik;
using namespace tarvik::mail;
using namespace Qt::Literals::StringLiterals;
using tarvik::test::EmlAddress;
using Addresses = QList<EmlAddress>;

namespace {

const QDateTime fixedNow(QDate(2011, 7, 1), QTime(9, 15, 0), Qt::LocalTime);

// The fields GMime reads, in the shape of Python's report.
struct GMimeView {
    QList<EmlAddress> from, to, cc, bcc;
    QString subject;
    qint64 dateEpoch = -1;
    QString body;
    QList<std::pair<QString, QByteArray>> attachments;
};

QByteArray decodedContent(GMimePart* part)
{
    auto out = gmime::take(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

GMimeView readWithGMime(const QString& path)
{
    gmime::ensureInitialised();
    GMimeView view;
    auto stream = gmime::take(
        g_mime_stream_fs_open(QFile::encodeName(path).constData(), O_RDONLY, 0, nullptr));
    auto parser = gmime::take(g_mime_parser_new_with_stream(stream.get()));
    auto message = gmime::take(g_mime_parser_construct_message(parser.get(), nullptr));
    const std::pair<GMimeAddressType, QList<EmlAddress>*> lists[] = {
        {GMIME_ADDRESS_TYPE_FROM, &view.from},
        {GMIME_ADDRESS_TYPE_TO, &view.to},
        {GMIME_ADDRESS_TYPE_CC, &view.cc},
        {GMIME_ADDRESS_TYPE_BCC, &view.bcc}};
    for (const auto& [type, list] : lists) {
        InternetAddressList* l = g_mime_message_get_addresses(message.get(), type);
        for (int i = 0; i < internet_address_list_length(l); ++i) {
            InternetAddress* a = internet_address_list_get_address(l, i);
            list->append({QString::fromUtf8(internet_address_get_name(a)),
                          QString::fromUtf8(
                              internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(a)))});
        }
    }
    view.subject = QString::fromUtf8(g_mime_message_get_subject(message.get()));
    if (GDateTime* date = g_mime_message_get_date(message.get()))
        view.dateEpoch = g_date_time_to_unix(date);
    GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message.get()));
    do {
        GMimeObject* object = g_mime_part_iter_get_current(iter);
        if (!GMIME_IS_PART(object))
            continue;
        GMimePart* part = GMIME_PART(object);
        if (const char* name = g_mime_part_get_filename(part))
            view.attachments.append({QString::fromUtf8(name), decodedContent(part)});
        else
            view.body = QString::fromUtf8(decodedContent(part)).replace("\r\n"_L1, "\n"_L1);
    } while (g_mime_part_iter_next(iter));
    g_mime_part_iter_free(iter);
    return view;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList folderEntries(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

} // namespace

class TestRdoMail : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<RdoSession> m_session;
    int m_ids = 0;

    std::shared_ptr<RdoMail> newMail()
    {
        return m_session->GetDefaultFolder(olFolderInbox)->Items()->Add(olMailItem);
    }
    // The sender goes in as the message builder passes it: a header file.
    void importFrom(RdoMail& mail, const QString& from)
    {
        writeFile(m_dir.filePath(u"sqm.pbs"_s), "From:" + from.toUtf8() + "\r\n");
        mail.Import(m_dir.filePath(u"sqm.pbs"_s), olRfc822);
    }
    // Saves; checks that Python finds no defect, line ends and lengths, and
    // that GMime reads the same fields as Python.
    tarvik::test::EmlReport save(RdoMail& mail, const QString& name)
    {
        const QString path = m_dir.filePath(name);
        mail.SaveAs(path, olRfc822);
        const auto r = tarvik::test::checkEml(path);
        [&] {
            QVERIFY2(r.ok(), qPrintable(r.error + r.defects.join(u'\n')));
            QCOMPARE(r.bareLf + r.bareCr, 0);
            QVERIFY(r.maxHeaderLine <= 78 && r.maxLine <= 998);
            const GMimeView g = readWithGMime(path);
            QCOMPARE(g.from, r.from);
            QCOMPARE(g.to, r.to);
            QCOMPARE(g.cc, r.cc);
            QCOMPARE(g.bcc, r.bcc);
            QCOMPARE(g.subject, r.subject.value_or(QString()));
            QCOMPARE(g.dateEpoch, r.dateEpoch.value_or(-1));
            QCOMPARE(g.body, r.body.value_or(QString()));
            QCOMPARE(g.attachments.size(), r.attachments.size());
            for (int i = 0; i < g.attachments.size(); ++i) {
                QCOMPARE(g.attachments[i].first, r.attachments[i].fileName);
                QCOMPARE(
                    QCryptographicHash::hash(g.attachments[i].second, QCryptographicHash::Sha256)
                        .toHex(),
                    r.attachments[i].sha256);
            }
        }();
        return r;
    }

private Q_SLOTS:
    void init()
    {
        RdoSessionOptions options;
        options.clock = [] {
            return fixedNow;
        };
        options.messageIdGenerator = [this] {
            return u"test.%1@tarvik.invalid"_s.arg(++m_ids);
        };
        m_session = std::make_shared<RdoSession>(options);
        m_session->Logon();
    }

    void nonAsciiEverywhere()
    {
        auto mail = newMail();
        importFrom(*mail, u"Jürgen Groß <juergen@example.de>"_s);
        mail->setSent(true);
        const QString subject = u"Grüße aus München – 季度报告 😀 "_s + QString(40, u'ü');
        mail->setSubject(subject);
        const QString body =
            u"Hallo Jürgen,\r\n\r\n季度报告 😀\nZeile "_s + QString(120, u'x') + u"\r\n--\rMira"_s;
        mail->setBody(body);
        mail->setCC(u"CN=Änne Exämple/OU=Vertrieb/O=Acme;\"Field, Bob\" <bob@example.com>"_s);
        mail->Recipients().Add(u"张伟 <zhang@example.cn>;Émile 😀 <emile@bücher.example>"_s);
        const QString fileName =
            u"季度报告_Quartalsbericht_Übersicht_2008_mit_sehr_langem_Namen_😀_final.pdf"_s;
        const char raw[] = "%PDF-1.4 \x00\xff\r\n\n";
        const QByteArray content(raw, sizeof raw - 1);
        writeFile(m_dir.filePath(fileName), content);
        mail->Attachments().Add(m_dir.filePath(fileName));

        const auto r = save(*mail, u"a.eml"_s);
        QCOMPARE(r.from, (Addresses{{u"Jürgen Groß"_s, u"juergen@example.de"_s}}));
        QCOMPARE(r.to, (Addresses{{u"张伟"_s, u"zhang@example.cn"_s},
                                  {u"Émile 😀"_s, u"emile@xn--bcher-kva.example"_s}}));
        QCOMPARE(r.cc,
                 (Addresses{{u"Änne Exämple/Vertrieb/Acme"_s, u"anne.example@notes.invalid"_s},
                            {u"Field, Bob"_s, u"bob@example.com"_s}}));
        QCOMPARE(r.subject, subject);
        QCOMPARE(r.body, QString(body).replace("\r\n"_L1, "\n"_L1).replace(u'\r', u'\n'));
        QCOMPARE(r.bodyEncoding, u"quoted-printable"_s);
        QCOMPARE(r.attachments.size(), 1);
        QCOMPARE(r.attachments[0].fileName, fileName);
        QCOMPARE(r.attachments[0].contentType, u"application/pdf"_s);
        QCOMPARE(r.attachments[0].data, content);
        QCOMPARE(r.messageId, u"<test.1@tarvik.invalid>"_s);
        QVERIFY(!r.unsent);
    }

    // A large body is converted in pieces of 65,536 characters: a CR LF pair
    // or a surrogate pair across the seam stays one line end or one character.
    void largeBodyAcrossPieces()
    {
        auto mail = newMail();
        const QString line = QString(76, u'ä') + u"\r\n"_s;
        QString body = QString(65535, u'x') + u"\r\n"_s + QString(65534, u'y') + u"😀\r"_s +
                       QString(65535, u'z') + u"\r"_s;
        for (int i = 0; i < 3000; ++i)
            body += line;
        mail->setBody(body);
        const auto r = save(*mail, u"large.eml"_s);
        QCOMPARE(r.body, QString(body).replace("\r\n"_L1, "\n"_L1).replace(u'\r', u'\n'));
    }

    void bodyEncodingChoice()
    {
        const QByteArray line78(78, 'x');
        QCOMPARE(bodyEncoding(line78 + "\n\tend\n"), GMIME_CONTENT_ENCODING_7BIT);
        QCOMPARE(bodyEncoding("Gr\xc3\xbc\xc3\x9f\x65\n"), GMIME_CONTENT_ENCODING_8BIT);
        QCOMPARE(bodyEncoding(line78 + "x"), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
        QCOMPARE(bodyEncoding("page\fbreak"), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
        QCOMPARE(bodyEncoding(QByteArray("nul\0", 4)), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
        QCOMPARE(bodyEncoding("a\n--=_b\n", "--=_b"), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    }

    // Bodies are encoded by the composer where GMime's filter did it before:
    // the bytes must be GMime's own, or messages would differ between the two
    // paths (bodies past the in-memory limit still go through GMime).
    void quotedPrintableAsGMimeWritesIt()
    {
        const auto gmimeEncoded = [](const QByteArray& in) {
            GMimeEncoding state;
            g_mime_encoding_init_encode(&state, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
            QByteArray out(qsizetype(g_mime_encoding_outlen(&state, size_t(in.size()))) + 16, '\0');
            const size_t n =
                g_mime_encoding_flush(&state, in.constData(), size_t(in.size()), out.data());
            out.truncate(qsizetype(n));
            return out;
        };
        QList<QByteArray> cases = {"",
                                   " ",
                                   "\t",
                                   "=",
                                   "\r",
                                   "\n",
                                   "a ",
                                   "a\t\n",
                                   "a \nb",
                                   "a\r\nb",
                                   "a\r\rb",
                                   "\r ",
                                   "x\x7f",
                                   QByteArray("\0\0", 2),
                                   "caf\xc3\xa9 \n"};
        // Every way a line can reach the soft break: plain, escaped and blank
        // characters at columns 70 to 80, and a held blank before them.
        for (int n = 68; n <= 80; ++n) {
            for (const QByteArray tail : {"", "x", " ", "\t", "=", "\xc3\xbc", " x", "  ", "\r"}) {
                cases.append(QByteArray(n, 'x') + tail);
                cases.append(QByteArray(n, 'x') + tail + "\nnext");
                cases.append(QByteArray(n / 3, '=') + tail + QByteArray(n, 'y'));
            }
        }
        quint32 seed = 20261209;
        const QByteArray alphabet("aZ9 \t=\n\r.\x7f\xc3\xa4\x01", 14);
        for (int i = 0; i < 3000; ++i) {
            seed = seed * 1103515245u + 12345u;
            QByteArray text(qsizetype((seed >> 8) % 500), '\0');
            for (char& c : text) {
                seed = seed * 1103515245u + 12345u;
                // Mostly letters, so that long lines come about.
                c = (seed >> 16) % 4 != 0 ? 'a' : alphabet.at(qsizetype((seed >> 20) % 14));
            }
            cases.append(text);
        }
        for (const QByteArray& text : std::as_const(cases)) {
            const QByteArray ours = quotedPrintable(text);
            if (ours != gmimeEncoded(text))
                QFAIL(("differs for " + text.toPercentEncoding() + ": " + ours + " / " +
                       gmimeEncoded(text))
                          .constData());
        }
    }

    // The text part writes its CR LF line ends itself: the file must be what
    // GMime's own newline filter makes of the same message (written here with
    // LF ends, which GMime writes without that text part's shortcut, and CR
    // added to every LF: the bodies hold no CR of their own by then).
    void textPartLineEndsAsGMimeWritesThem()
    {
        const QString attachmentPath = m_dir.filePath(u"line-ends.bin"_s);
        QFile file(attachmentPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(3000, 'z') + "\n\x01\x02");
        file.close();
        const QStringList bodies = {u""_s,
                                    u"x"_s,
                                    u"x\n"_s,
                                    u"a\r\n\r\nb\r"_s,
                                    QString(200, u'y') + u"\nend"_s,
                                    u"Gr\u00fc\u00dfe \n\n"_s,
                                    u"\u5b63\u5ea6 \t"_s,
                                    QString(70000, u'w') + u'\n'};
        for (const QString& body : bodies) {
            for (const bool attached : {false, true}) {
                MailContent content;
                content.from = {{u"A"_s, u"a@example.org"_s}};
                content.subject = u"line ends"_s;
                content.body = body;
                content.date = fixedNow;
                content.messageId = u"id@example.org"_s;
                if (attached)
                    content.attachments.push_back(AttachmentFile::open(attachmentPath, {}));
                auto message = composeMessage(content);
                const auto written = [&](GMimeNewLineFormat format) {
                    auto options = crlfFormat();
                    g_mime_format_options_set_newline_format(options.get(), format);
                    auto out = gmime::take(g_mime_stream_mem_new());
                    g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), options.get(),
                                                  out.get());
                    GByteArray* bytes =
                        g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
                    return QByteArray(reinterpret_cast<const char*>(bytes->data),
                                      qsizetype(bytes->len));
                };
                const QByteArray crlf = written(GMIME_NEWLINE_FORMAT_DOS);
                const QByteArray lf = written(GMIME_NEWLINE_FORMAT_UNIX);
                QVERIFY(!lf.contains('\r'));
                if (crlf != QByteArray(lf).replace("\n", "\r\n"))
                    QFAIL(qPrintable(u"differs for the body %1 (attachment: %2)"_s.arg(
                        body.left(20), attached ? u"yes"_s : u"no"_s)));
            }
        }
    }

    // The composer's own UTF-8 conversion against Qt's, line ends aside:
    // surrogate pairs, lone surrogates anywhere and CRs before anything.
    void bodyBytesAsQtConvertsThem()
    {
        const QList<char16_t> alphabet = {u'a',   u' ',   u'\r',  u'\n',  0xFC,   0x7FF,  0x800,
                                          0x5B63, 0xFFFD, 0xD83C, 0xDF89, 0xDBFF, 0xDC00, 0x7F};
        quint32 seed = 1209;
        for (int i = 0; i < 2000; ++i) {
            seed = seed * 1103515245u + 12345u;
            QString text(qsizetype((seed >> 8) % 300), Qt::Uninitialized);
            for (QChar& c : text) {
                seed = seed * 1103515245u + 12345u;
                c = QChar(alphabet.at(qsizetype((seed >> 16) % quint32(alphabet.size()))));
            }
            const QByteArray expected =
                QString(text).replace("\r\n"_L1, "\n"_L1).replace(u'\r', u'\n').toUtf8();
            if (bodyBytes(text) != expected)
                QFAIL(("differs for " + text.toUtf8().toPercentEncoding()).constData());
        }
    }

    void headerInjectionIsDefused()
    {
        auto mail = newMail();
        importFrom(*mail, u"Eve\rBcc: spy@evil.example <eve@example.com>"_s);
        mail->setSubject(u"Hello\r\nBcc: spy@evil.example\nX-Evil: 1"_s);
        mail->setCC(u"Bob <bob@example.com>\r\nBcc: spy@evil.example"_s);
        mail->Recipients().Add(u"CN=Ann\nTo: spy@evil.example/O=Acme"_s);
        const auto r = save(*mail, u"inject.eml"_s);
        QCOMPARE(r.headerNames.join(u' '), u"From To Cc Subject Date Message-ID MIME-Version "
                                           u"X-Unsent Content-Type Content-Transfer-Encoding"_s);
        QCOMPARE(r.subject, u"Hello Bcc: spy@evil.example X-Evil: 1"_s);
        QCOMPARE(r.from, (Addresses{{u"Eve Bcc: spy@evil.example"_s, u"eve@example.com"_s}}));
        QCOMPARE(r.to, (Addresses{{u"Ann To: spy@evil.example/Acme"_s,
                                   u"ann.to.spy.evil.example@notes.invalid"_s}}));
        QCOMPARE(r.cc.value(0).name, u"Bob <bob@example.com> Bcc: spy@evil.example"_s);
        QVERIFY(r.bcc.isEmpty());
    }

    void recipientTexts()
    {
        auto mail = newMail();
        importFrom(*mail, u"CN=Mira Kestrel/OU=Mail/O=Acme@AcmeDomain"_s);
        QStringList many;
        for (int i = 0; i < 200; ++i)
            many << u"Person Number %1 <p%1@example.com>"_s.arg(i);
        mail->Recipients().Add(many.join(u';'));
        mail->Recipients().Add(u" ; . ;;bob@example.com;张伟/销售部/某某公司"_s);
        mail->setCC(u".;;CN=Ann Example/OU=Sales/O=Acme;Dr. Who, (Acme) <dr@example.com>"_s);
        mail->setBCC(u"\"O'Brien, \\\"Pat\\\"\" <pat@example.com>;Carol <carol@example>"_s);
        const auto r = save(*mail, u"recipients.eml"_s);
        QCOMPARE(r.from, (Addresses{{u"Mira Kestrel/Mail/Acme@AcmeDomain"_s,
                                     u"mira.kestrel@notes.invalid"_s}}));
        QCOMPARE(r.to.size(), 202);
        QCOMPARE(r.to[199], (EmlAddress{u"Person Number 199"_s, u"p199@example.com"_s}));
        QCOMPARE(r.to[200], (EmlAddress{QString(), u"bob@example.com"_s}));
        QCOMPARE(r.to[201].name, u"张伟/销售部/某某公司"_s);
        QVERIFY(r.to[201].address.startsWith(u"user-"));
        QCOMPARE(r.cc, (Addresses{{u"Ann Example/Sales/Acme"_s, u"ann.example@notes.invalid"_s},
                                  {u"Dr. Who, (Acme)"_s, u"dr@example.com"_s}}));
        QCOMPARE(r.bcc,
                 (Addresses{{u"O'Brien, \"Pat\""_s, u"pat@example.com"_s},
                            {u"Carol <carol@example>"_s, u"carol.carol.example@notes.invalid"_s}}));
    }

    // Names that cannot be folded, or only as several encoded words.
    void longNames()
    {
        const QString nonAscii = QString(30, u'ü') + u"季度报告"_s.repeated(12);
        const QString ascii = u"Dr. Name,"_s.repeated(15);
        const QString subject = u"Quarterly report for the sales region"_s.repeated(6);
        auto mail = newMail();
        importFrom(*mail, nonAscii);
        mail->Recipients().Add(u'"' + ascii + u"\" <long@example.com>"_s);
        mail->setSubject(subject);
        const QString path = m_dir.filePath(u"longname.eml"_s);
        mail->SaveAs(path, olRfc822);
        const auto r = tarvik::test::checkEml(path);
        QVERIFY2(r.ok(), qPrintable(r.error + r.defects.join(u'\n')));
        QVERIFY(r.maxHeaderLine > 78 && r.maxHeaderLine <= 998);
        const GMimeView g = readWithGMime(path);
        QCOMPARE(g.from.value(0).name, nonAscii);
        QCOMPARE(g.to.value(0).name, ascii);
        QCOMPARE(g.subject, subject);
        QCOMPARE(r.to.value(0).name, ascii);
        QCOMPARE(r.subject, subject);
        // Python's reader shows a blank between the encoded words of one name.
        QCOMPARE(r.from.value(0).name.remove(u' '), nonAscii);
    }

    void importTakesHeaderLines()
    {
        const QString path = m_dir.filePath(u"headers.txt"_s);
        writeFile(path, "From:Grüße GmbH\n <info@example.de>\nX-Other: 1\r\nSubject: Hi\n"
                        "Cc: cc@example.com\n\nTo: body@example.com\n");
        auto mail = newMail();
        mail->Import(path, olRfc822);
        const auto r = save(*mail, u"imported.eml"_s);
        QCOMPARE(r.from, (Addresses{{u"Grüße GmbH"_s, u"info@example.de"_s}}));
        QCOMPARE(r.subject, u"Hi"_s);
        QCOMPARE(r.cc.value(0).address, u"cc@example.com"_s);
        QVERIFY(r.to.isEmpty());
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->Import(path, 0));

        // The same text from memory gives the same message.
        auto fromMemory = newMail();
        fromMemory->importText(fileBytes(path), olRfc822);
        const auto m = save(*fromMemory, u"imported-from-memory.eml"_s);
        QCOMPARE(m.from, r.from);
        QCOMPARE(m.subject, r.subject);
        QCOMPARE(m.cc.value(0).address, u"cc@example.com"_s);
        QVERIFY(m.to.isEmpty());
        QVERIFY_THROWS_EXCEPTION(OperationError, fromMemory->importText("From: a@b.c\r\n", 0));
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 fromMemory->importText(QByteArray(2 << 20, 'x'), olRfc822));
    }

    void attachmentsAreKeptAndRoundTrip()
    {
        QTemporaryDir temp;
        QByteArray binary;
        for (int i = 0; i < 70000; ++i)
            binary.append(char(i * 7 % 256));
        const QString a = temp.filePath(u"report.pdf"_s);
        writeFile(a, binary);
        writeFile(temp.filePath(u"empty.bin"_s), {});
        auto mail = newMail();
        mail->setBody(u"See attached."_s);
        mail->Attachments().Add(a);
        QVERIFY(QFile::remove(a)); // deleted right after, as the caller does
        writeFile(a, "second file, same name");
        mail->Attachments().Add(a);
        mail->Attachments().Add(temp.filePath(u"empty.bin"_s));
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 mail->Attachments().Add(temp.filePath(u"gone.txt"_s)));
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->Attachments().Add(temp.path()));
        QCOMPARE(mail->Attachments().Count(), 3);

        const auto r = save(*mail, u"att.eml"_s);
        QCOMPARE(r.contentType, u"multipart/mixed"_s);
        QCOMPARE(r.body, u"See attached."_s);
        QCOMPARE(r.bodyEncoding, u"7bit"_s);
        QCOMPARE(r.attachments.size(), 3);
        QCOMPARE(r.attachments[0].fileName, u"report.pdf"_s);
        QCOMPARE(r.attachments[0].encoding, u"base64"_s);
        QCOMPARE(r.attachments[0].data, binary);
        QCOMPARE(r.attachments[1].fileName, u"report.pdf"_s);
        QCOMPARE(r.attachments[1].data, QByteArray("second file, same name"));
        QCOMPARE(r.attachments[2].fileName, u"empty.bin"_s);
        QCOMPARE(r.attachments[2].contentType, u"application/octet-stream"_s);
        QCOMPARE(r.attachments[2].size, 0);
        // A second save (another name after a collision) writes the same bytes.
        save(*mail, u"att2.eml"_s);
        QCOMPARE(fileBytes(m_dir.filePath(u"att2.eml"_s)), fileBytes(m_dir.filePath(u"att.eml"_s)));
    }

    void emptyItem()
    {
        auto mail = newMail();
        mail->setSubject(QString());
        mail->setBody(QString());
        mail->Recipients().Add(QString());
        const auto r = save(*mail, u"empty.eml"_s);
        QVERIFY(r.from.isEmpty() && r.to.isEmpty() && r.cc.isEmpty() && r.bcc.isEmpty());
        QCOMPARE(r.subject, std::nullopt);
        QCOMPARE(r.body, QString());
        QCOMPARE(r.dateEpoch, fixedNow.toSecsSinceEpoch()); // no date given: the clock's
        QVERIFY(r.unsent);
    }

    void dateHeader_data()
    {
        QTest::addColumn<QString>("sentOn");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("dateLine");
        QTest::newRow("back-end form") << "2008-03-14 10:32:05 +01:00"
                                       << "2008-03-15 08:00:00 +01:00"
                                       << "Fri, 14 Mar 2008 10:32:05 +0100";
        QTest::newRow("received only") << ""
                                       << "2008-07-01T23:59:59-05:00"
                                       << "Tue, 01 Jul 2008 23:59:59 -0500";
        QTest::newRow("day, summer") << "06-30-2008"
                                     << ""
                                     << "Mon, 30 Jun 2008 00:00:00 +0200";
        QTest::newRow("day, winter") << "12-24-2008"
                                     << ""
                                     << "Wed, 24 Dec 2008 00:00:00 +0100";
        QTest::newRow("UTC") << "2008-03-14T10:32:05Z"
                             << ""
                             << "Fri, 14 Mar 2008 10:32:05 +0000";
    }
    void dateHeader()
    {
        QFETCH(QString, sentOn);
        QFETCH(QString, received);
        QFETCH(QString, dateLine);
        auto mail = newMail();
        if (!sentOn.isEmpty())
            mail->setSentOn(sentOn);
        if (!received.isEmpty())
            mail->setReceivedTime(received);
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->setSentOn(u"14.03.2008"_s));
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->setReceivedTime(QString()));
        const QString name = u"date-%1.eml"_s.arg(QLatin1StringView(QTest::currentDataTag()));
        save(*mail, name);
        QVERIFY(("\r\n" + fileBytes(m_dir.filePath(name)))
                    .contains("\r\nDate: " + dateLine.toLatin1() + "\r\n"));
    }

    void saveAsNeverReplacesOrLeavesDebris()
    {
        QTemporaryDir dir;
        auto mail = newMail();
        const QString taken = dir.filePath(u"taken.eml"_s);
        writeFile(taken, "precious");
        QFile::link(dir.filePath(u"nowhere"_s), dir.filePath(u"link.eml"_s));
        const QStringList before = folderEntries(dir.path());
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->SaveAs(taken, olRfc822));
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 mail->SaveAs(dir.filePath(u"link.eml"_s), olRfc822));
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 mail->SaveAs(dir.filePath(u"no/such/x.eml"_s), olRfc822));
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->SaveAs(dir.filePath(u"fine.eml"_s), 0));
        QCOMPARE(fileBytes(taken), QByteArray("precious"));
        QCOMPARE(folderEntries(dir.path()), before);
    }

    void writeFailureLeavesNothing()
    {
        QTemporaryDir out;
        QTemporaryDir in;
        writeFile(in.filePath(u"big.bin"_s), QByteArray(200000, 'z'));
        auto mail = newMail();
        mail->Attachments().Add(in.filePath(u"big.bin"_s));
        // The file-size limit must not hit the test process: a child takes it.
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{65536, 65536};
            setrlimit(RLIMIT_FSIZE, &limit);
            int code = 1;
            try {
                mail->SaveAs(out.filePath(u"big.eml"_s), olRfc822);
            } catch (const OperationError& e) {
                code = e.message().contains("File too large"_L1) ? 0 : 2;
            }
            _exit(code);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(folderEntries(out.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestRdoMail)
#include "tst_RdoMail.moc"
