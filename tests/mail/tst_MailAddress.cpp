// Recipient texts to mailboxes: addresses stay addresses, Notes names and
// other texts become readable names with placeholder addresses.

#include "mail/MailAddress.h"

#include <QTest>

using namespace tarvik::mail;

class TestMailAddress : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entry_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        const auto row = [](const char* tag, const char* entry, const char* name,
                            const char* address) {
            QTest::newRow(tag) << QString::fromUtf8(entry) << QString::fromUtf8(name)
                               << QString::fromUtf8(address);
        };
        row("bare address", " bob@example.com ", "", "bob@example.com");
        row("name and address", "Bob Field <bob@example.com>", "Bob Field", "bob@example.com");
        row("quoted name", "\"Field, Bob \\\"B\\\"\" <bob@example.com>", "Field, Bob \"B\"",
            "bob@example.com");
        row("international domain", "Émile <emile@bücher.example>", "Émile",
            "emile@xn--bcher-kva.example");
        row("Notes name", "CN=Ann Example/OU=Sales/O=Acme", "Ann Example/Sales/Acme",
            "ann.example@notes.invalid");
        row("Notes name, lower-case labels", "cn=Ann Example/ou=Sales/o=Acme/c=DE",
            "Ann Example/Sales/Acme/DE", "ann.example@notes.invalid");
        row("Notes name with Notes domain", "CN=Ann/O=Acme@AcmeMail", "Ann/Acme@AcmeMail",
            "ann@notes.invalid");
        row("atoms but a Notes name", "CN=Ann/O=Acme@acme.com", "Ann/Acme@acme.com",
            "ann@notes.invalid");
        row("Notes name with address", "CN=Ann/O=Acme <ann@acme.com>", "Ann/Acme", "ann@acme.com");
        row("abbreviated Notes name", "Jürgen Groß/Vertrieb/Acme", "Jürgen Groß/Vertrieb/Acme",
            "jurgen.gross@notes.invalid");
        row("single-label domain", "carol@example", "carol@example", "carol.example@notes.invalid");
        row("no address in brackets", "Bob <>", "Bob", "bob@notes.invalid");
        row("bad address in brackets", "Bob <not an address>", "Bob <not an address>",
            "bob.not.an.address@notes.invalid");
        row("control characters", "Eve\r\nBcc: x@evil.example", "Eve Bcc: x@evil.example",
            "eve.bcc.x.evil.example@notes.invalid");
        row("long name", "CN=Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddddd Eeeeeeeeee/O=Acme",
            "Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddddd Eeeeeeeeee/Acme",
            "aaaaaaaaaa.bbbbbbbbbb.cccccccccc.ddddddd@notes.invalid");
    }
    void entry()
    {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        QFETCH(QString, address);
        const auto mailbox = mailboxFromEntry(entry);
        QVERIFY(mailbox);
        QCOMPARE(mailbox->name, name);
        QCOMPARE(mailbox->address, address);
        QCOMPARE(mailbox->placeholder, address.endsWith(u"@notes.invalid"));
    }

    void lists()
    {
        QCOMPARE(mailboxesFromText(QStringLiteral(" ; . ;;\t; ")), QList<Mailbox>());
        const auto list = mailboxesFromText(
            QStringLiteral("\"Field; Bob\" <bob@example.com>;.;CN=Ann/O=Acme;<x;y@example.com>"));
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].name, QStringLiteral("Field; Bob"));
        QCOMPARE(list[1].name, QStringLiteral("Ann/Acme"));
        QCOMPARE(list[2].name, QStringLiteral("<x;y@example.com>"));
    }

    void placeholders()
    {
        const QString a = placeholderAddress(QStringLiteral("张伟/销售部/某某公司"));
        QVERIFY(QRegularExpression(QStringLiteral("^user-[0-9a-f]{10}@notes\\.invalid$"))
                    .match(a)
                    .hasMatch());
        QCOMPARE(placeholderAddress(QStringLiteral("张伟/销售部/某某公司")), a);
        QVERIFY(placeholderAddress(QStringLiteral("李娜/销售部/某某公司")) != a);
        QCOMPARE(cleanHeaderText(QStringLiteral("a\r\n\tb\x7f"
                                                "c\u2028d\u0085e")),
                 QStringLiteral("a b c d e"));
    }
};

QTEST_GUILESS_MAIN(TestMailAddress)
#include "tst_MailAddress.moc"
