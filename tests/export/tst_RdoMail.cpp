// Messages written by RdoMail, read back by GMime and by Python's email package.

#include "EmlCheck.h"
#include "export/GMimeHandles.h"
#include "export/MailComposer.h"
#include "export/RdoSession.h"
#include "shell/OperationError.h"

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
using tarvik::test::EmlAddress;

namespace {

const QDateTime fixedNow(QDate(2011, 7, 1), QTime(9, 15, 0), Qt::LocalTime);

// The fields GMime reads, in the same shape as Python's report.
struct GMimeView {
    QList<EmlAddress> from, to, cc, bcc;
    QString subject;
    qint64 dateEpoch = 0;
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
    if (!message)
        return view;
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
    auto iter = g_mime_part_iter_new(GMIME_OBJECT(message.get()));
    do {
        GMimeObject* part = g_mime_part_iter_get_current(iter);
        if (GMIME_IS_TEXT_PART(part) && !g_mime_part_get_filename(GMIME_PART(part))) {
            view.body = QString::fromUtf8(decodedContent(GMIME_PART(part)))
                            .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        } else if (GMIME_IS_PART(part)) {
            view.attachments.append({QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(part))),
                                     decodedContent(GMIME_PART(part))});
        }
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
    bool keep = (m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("TARVIK_KEEP")), true);
    std::shared_ptr<RdoSession> m_session;
    int m_ids = 0;

    std::shared_ptr<RdoMail> newMail()
    {
        return m_session->GetDefaultFolder(olFolderInbox)->Items()->Add(olMailItem);
    }
    // The sender goes in the way the message builder passes it: a header file.
    void importFrom(RdoMail& mail, const QString& from)
    {
        const QString path = m_dir.filePath(QStringLiteral("sqm.pbs"));
        writeFile(path, "From:" + from.toUtf8() + "\r\n");
        mail.Import(path, olRfc822);
    }
    // Saves, checks the output with both parsers and that they agree.
    tarvik::test::EmlReport save(RdoMail& mail, const QString& name)
    {
        const QString path = m_dir.filePath(name);
        mail.SaveAs(path, olRfc822);
        const auto report = tarvik::test::checkEml(path);
        [&] {
            QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
            QVERIFY2(report.defects.isEmpty(), qPrintable(report.defects.join(u'\n')));
            QCOMPARE(report.bareLf, 0);
            QCOMPARE(report.bareCr, 0);
            QVERIFY(report.maxLine <= 998);
            QVERIFY(report.maxHeaderLine <= 78);
            const GMimeView g = readWithGMime(path);
            QCOMPARE(g.from, report.from);
            QCOMPARE(g.to, report.to);
            QCOMPARE(g.cc, report.cc);
            QCOMPARE(g.bcc, report.bcc);
            QCOMPARE(g.subject, report.subject.value_or(QString()));
            QCOMPARE(g.dateEpoch, report.dateEpoch.value_or(-1));
            QCOMPARE(g.body, report.body.value_or(QString()));
            QCOMPARE(g.attachments.size(), report.attachments.size());
            for (int i = 0; i < g.attachments.size(); ++i) {
                QCOMPARE(g.attachments[i].first, report.attachments[i].fileName);
                QCOMPARE(
                    QCryptographicHash::hash(g.attachments[i].second, QCryptographicHash::Sha256)
                        .toHex(),
                    report.attachments[i].sha256);
            }
        }();
        return report;
    }

private Q_SLOTS:
    void init()
    {
        RdoSessionOptions options;
        options.clock = [] {
            return fixedNow;
        };
        options.messageIdGenerator = [this] {
            return QStringLiteral("test.%1@tarvik.invalid").arg(++m_ids);
        };
        m_session = std::make_shared<RdoSession>(options);
        m_session->Logon();
    }

    void nonAsciiEverywhere()
    {
        auto mail = newMail();
        importFrom(*mail, QStringLiteral("Jürgen Groß <juergen@example.de>"));
        mail->setSent(true);
        mail->setSubject(QStringLiteral("Grüße aus München – 季度报告 😀 ") + QString(40, u'ü'));
        const QString body = QStringLiteral("Hallo Jürgen,\r\n\r\n季度报告 😀\nZeile ") +
                             QString(120, u'x') + QStringLiteral("\r\n--\rMira");
        mail->setBody(body);
        mail->setCC(
            QStringLiteral("CN=Änne Exämple/OU=Vertrieb/O=Acme;\"Field, Bob\" <bob@example.com>"));
        mail->Recipients().Add(
            QStringLiteral("张伟 <zhang@example.cn>;Émile 😀 <emile@bücher.example>"));
        const QString longName = QStringLiteral(
            "季度报告_Quartalsbericht_Übersicht_2008_mit_sehr_langem_Namen_😀_final.pdf");
        const QString attachment = m_dir.filePath(longName);
        writeFile(attachment, QByteArray("%PDF-1.4 \x00\xff\r\n\n", 16));
        mail->Attachments().Add(attachment);

        const auto r = save(*mail, QStringLiteral("a.eml"));
        QCOMPARE(r.from, (QList<EmlAddress>{{QStringLiteral("Jürgen Groß"),
                                             QStringLiteral("juergen@example.de")}}));
        QCOMPARE(r.to,
                 (QList<EmlAddress>{
                     {QStringLiteral("张伟"), QStringLiteral("zhang@example.cn")},
                     {QStringLiteral("Émile 😀"), QStringLiteral("emile@xn--bcher-kva.example")}}));
        QCOMPARE(r.cc, (QList<EmlAddress>{
                           {QStringLiteral("Änne Exämple/Vertrieb/Acme"),
                            QStringLiteral("anne.example@notes.invalid")},
                           {QStringLiteral("Field, Bob"), QStringLiteral("bob@example.com")}}));
        QCOMPARE(r.subject, QStringLiteral("Grüße aus München – 季度报告 😀 ") + QString(40, u'ü'));
        QCOMPARE(r.body, QString(body)
                             .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                             .replace(u'\r', u'\n'));
        QCOMPARE(r.bodyEncoding, QStringLiteral("quoted-printable"));
        QCOMPARE(r.attachments.size(), 1);
        QCOMPARE(r.attachments[0].fileName, longName);
        QCOMPARE(r.attachments[0].contentType, QStringLiteral("application/pdf"));
        QCOMPARE(r.attachments[0].data, QByteArray("%PDF-1.4 \x00\xff\r\n\n", 16));
        QCOMPARE(r.headerNames.mid(0, 6),
                 (QStringList{QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Cc"),
                              QStringLiteral("Subject"), QStringLiteral("Date"),
                              QStringLiteral("Message-ID")}));
        QCOMPARE(r.messageId, QStringLiteral("<test.1@tarvik.invalid>"));
        QVERIFY(!r.unsent);
    }

    void headerInjectionIsDefused()
    {
        auto mail = newMail();
        importFrom(*mail, QStringLiteral("Eve\rBcc: spy@evil.example <eve@example.com>"));
        mail->setSubject(QStringLiteral("Hello\r\nBcc: spy@evil.example\nX-Evil: 1"));
        mail->setCC(QStringLiteral("Bob <bob@example.com>\r\nBcc: spy@evil.example"));
        mail->Recipients().Add(QStringLiteral("CN=Ann\nTo: spy@evil.example/O=Acme"));
        const auto r = save(*mail, QStringLiteral("inject.eml"));
        QCOMPARE(r.headerNames,
                 (QStringList{QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Cc"),
                              QStringLiteral("Subject"), QStringLiteral("Date"),
                              QStringLiteral("Message-ID"), QStringLiteral("MIME-Version"),
                              QStringLiteral("X-Unsent"), QStringLiteral("Content-Type"),
                              QStringLiteral("Content-Transfer-Encoding")}));
        QCOMPARE(r.subject, QStringLiteral("Hello Bcc: spy@evil.example X-Evil: 1"));
        QCOMPARE(r.from, (QList<EmlAddress>{{QStringLiteral("Eve Bcc: spy@evil.example"),
                                             QStringLiteral("eve@example.com")}}));
        QCOMPARE(r.to,
                 (QList<EmlAddress>{{QStringLiteral("Ann To: spy@evil.example/Acme"),
                                     QStringLiteral("ann.to.spy.evil.example@notes.invalid")}}));
        QCOMPARE(r.cc.size(), 1);
        QCOMPARE(r.cc[0].name, QStringLiteral("Bob <bob@example.com> Bcc: spy@evil.example"));
        QVERIFY(r.bcc.isEmpty());
    }

    void recipientTexts()
    {
        auto mail = newMail();
        importFrom(*mail, QStringLiteral("CN=Mira Kestrel/OU=Mail/O=Acme@AcmeDomain"));
        QStringList many;
        for (int i = 0; i < 200; ++i)
            many << QStringLiteral("Person Number %1 <p%1@example.com>").arg(i);
        mail->Recipients().Add(many.join(u';'));
        mail->Recipients().Add(QStringLiteral(" ; . ;;bob@example.com;张伟/销售部/某某公司"));
        mail->setCC(
            QStringLiteral(".;;CN=Ann Example/OU=Sales/O=Acme;Dr. Who, (Acme) <dr@example.com>"));
        mail->setBCC(
            QStringLiteral("\"O'Brien, \\\"Pat\\\"\" <pat@example.com>;Carol <carol@example>"));
        const auto r = save(*mail, QStringLiteral("recipients.eml"));
        QCOMPARE(r.from, (QList<EmlAddress>{{QStringLiteral("Mira Kestrel/Mail/Acme@AcmeDomain"),
                                             QStringLiteral("mira.kestrel@notes.invalid")}}));
        QCOMPARE(r.to.size(), 202);
        QCOMPARE(r.to[199], (EmlAddress{QStringLiteral("Person Number 199"),
                                        QStringLiteral("p199@example.com")}));
        QCOMPARE(r.to[200], (EmlAddress{QString(), QStringLiteral("bob@example.com")}));
        QCOMPARE(r.to[201].name, QStringLiteral("张伟/销售部/某某公司"));
        QVERIFY(r.to[201].address.startsWith(u"user-"));
        QCOMPARE(r.cc, (QList<EmlAddress>{
                           {QStringLiteral("Ann Example/Sales/Acme"),
                            QStringLiteral("ann.example@notes.invalid")},
                           {QStringLiteral("Dr. Who, (Acme)"), QStringLiteral("dr@example.com")}}));
        QCOMPARE(r.bcc, (QList<EmlAddress>{
                            {QStringLiteral("O'Brien, \"Pat\""), QStringLiteral("pat@example.com")},
                            {QStringLiteral("Carol <carol@example>"),
                             QStringLiteral("carol.carol.example@notes.invalid")}}));
    }

    // Names that cannot be folded, or only as several encoded words.
    void longNames()
    {
        const QString nonAscii = QString(30, u'ü') + QStringLiteral("季度报告").repeated(12);
        const QString ascii = QStringLiteral("Dr. Name,").repeated(15);
        const QString subject = QStringLiteral("Quarterly report for the sales region").repeated(6);
        auto mail = newMail();
        importFrom(*mail, nonAscii);
        mail->Recipients().Add(u'"' + ascii + QStringLiteral("\" <long@example.com>"));
        mail->setSubject(subject);
        const QString path = m_dir.filePath(QStringLiteral("longname.eml"));
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
        const QString path = m_dir.filePath(QStringLiteral("headers.txt"));
        writeFile(path, "From:Grüße GmbH\n <info@example.de>\nX-Other: 1\r\nSubject: Hi\n"
                        "Cc: cc@example.com\n\nTo: body@example.com\n");
        auto mail = newMail();
        mail->Import(path, olRfc822);
        const auto r = save(*mail, QStringLiteral("imported.eml"));
        QCOMPARE(r.from, (QList<EmlAddress>{
                             {QStringLiteral("Grüße GmbH"), QStringLiteral("info@example.de")}}));
        QCOMPARE(r.subject, QStringLiteral("Hi"));
        QCOMPARE(r.cc.value(0).address, QStringLiteral("cc@example.com"));
        QVERIFY(r.to.isEmpty());
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->Import(path, 0));
    }

    void attachmentsAreKeptAndRoundTrip()
    {
        QTemporaryDir temp;
        QByteArray binary;
        for (int i = 0; i < 70000; ++i)
            binary.append(char(i * 7 % 256));
        const QString a = temp.filePath(QStringLiteral("report.pdf"));
        const QString empty = temp.filePath(QStringLiteral("empty.bin"));
        writeFile(a, binary);
        writeFile(empty, {});
        auto mail = newMail();
        mail->setBody(QStringLiteral("See attached."));
        mail->Attachments().Add(a);
        QVERIFY(QFile::remove(a)); // deleted right after, as the caller does
        writeFile(a, "second file, same name");
        mail->Attachments().Add(a);
        mail->Attachments().Add(empty);
        QVERIFY_THROWS_EXCEPTION(
            OperationError, mail->Attachments().Add(temp.filePath(QStringLiteral("gone.txt"))));
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->Attachments().Add(temp.path()));
        QCOMPARE(mail->Attachments().Count(), 3);

        const auto r = save(*mail, QStringLiteral("att.eml"));
        QCOMPARE(r.contentType, QStringLiteral("multipart/mixed"));
        QCOMPARE(r.body, QStringLiteral("See attached."));
        QCOMPARE(r.bodyEncoding, QStringLiteral("7bit"));
        QCOMPARE(r.attachments.size(), 3);
        QCOMPARE(r.attachments[0].fileName, QStringLiteral("report.pdf"));
        QCOMPARE(r.attachments[0].data, binary);
        QCOMPARE(r.attachments[0].encoding, QStringLiteral("base64"));
        QCOMPARE(r.attachments[1].fileName, QStringLiteral("report.pdf"));
        QCOMPARE(r.attachments[1].data, QByteArray("second file, same name"));
        QCOMPARE(r.attachments[2].fileName, QStringLiteral("empty.bin"));
        QCOMPARE(r.attachments[2].contentType, QStringLiteral("application/octet-stream"));
        QCOMPARE(r.attachments[2].size, 0);

        // A second save (another name after a collision) writes the same bytes.
        save(*mail, QStringLiteral("att2.eml"));
        QCOMPARE(fileBytes(m_dir.filePath(QStringLiteral("att2.eml"))),
                 fileBytes(m_dir.filePath(QStringLiteral("att.eml"))));
    }

    void emptyItem()
    {
        auto mail = newMail();
        mail->setSubject(QString());
        mail->setBody(QString());
        mail->Recipients().Add(QString());
        const auto r = save(*mail, QStringLiteral("empty.eml"));
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
        QTest::newRow("day only, summer") << "06-30-2008"
                                          << ""
                                          << "Mon, 30 Jun 2008 00:00:00 +0200";
        QTest::newRow("day only, winter") << "12-24-2008"
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
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->setSentOn(QStringLiteral("14.03.2008")));
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->setReceivedTime(QString()));
        const QString path = m_dir.filePath(QStringLiteral("date.eml"));
        QFile::remove(path);
        save(*mail, QStringLiteral("date.eml"));
        QVERIFY(("\r\n" + fileBytes(path)).contains("\r\nDate: " + dateLine.toLatin1() + "\r\n"));
    }

    void saveAsNeverReplacesOrLeavesDebris()
    {
        auto mail = newMail();
        mail->setSubject(QStringLiteral("x"));
        const QString existing = m_dir.filePath(QStringLiteral("taken.eml"));
        writeFile(existing, "precious");
        QFile::link(m_dir.filePath(QStringLiteral("nowhere")),
                    m_dir.filePath(QStringLiteral("link.eml")));
        const QStringList before = folderEntries(m_dir.path());
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->SaveAs(existing, olRfc822));
        QVERIFY_THROWS_EXCEPTION(
            OperationError, mail->SaveAs(m_dir.filePath(QStringLiteral("link.eml")), olRfc822));
        QVERIFY_THROWS_EXCEPTION(
            OperationError,
            mail->SaveAs(m_dir.filePath(QStringLiteral("no/such/x.eml")), olRfc822));
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 mail->SaveAs(m_dir.filePath(QStringLiteral("fine.eml")), 0));
        QCOMPARE(fileBytes(existing), QByteArray("precious"));
        QCOMPARE(folderEntries(m_dir.path()), before);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("nowhere"))));
    }

    void writeFailureLeavesNothing()
    {
        QTemporaryDir out;
        QTemporaryDir in;
        const QString big = in.filePath(QStringLiteral("big.bin"));
        writeFile(big, QByteArray(200000, 'z'));
        auto mail = newMail();
        mail->Attachments().Add(big);
        // The size limit applies to this process only: a child takes it.
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{65536, 65536};
            setrlimit(RLIMIT_FSIZE, &limit);
            int code = 1;
            try {
                mail->SaveAs(out.filePath(QStringLiteral("big.eml")), olRfc822);
            } catch (const OperationError& e) {
                code = e.message().contains(QStringLiteral("File too large")) ? 0 : 2;
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
