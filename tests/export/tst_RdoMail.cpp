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
};

QTEST_GUILESS_MAIN(TestRdoMail)
#include "tst_RdoMail.moc"
