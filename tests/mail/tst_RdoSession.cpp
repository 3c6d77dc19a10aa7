// Creation, logon and logoff of the writer's session, and what its objects
// allow before, during and after a logon.

#include "base/OperationError.h"
#include "mail/RdoSession.h"
#include "mail/RdoSessionRegistry.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;
using namespace tarvik::mail;

namespace {

QString errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const OperationError& e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestRdoSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void registry()
    {
        QCOMPARE(errorOf([] { RdoSessionRegistry().create(rdoSessionProgId); }),
                 QStringLiteral("Cannot create object \"Redemption.RDOSession\""));
        auto registry = RdoSessionRegistry::withDefaults();
        QVERIFY(registry.create(QStringLiteral("redemption.rdosession")));
        QVERIFY_THROWS_EXCEPTION(OperationError, registry.create(QStringLiteral("Other.Session")));
        registry.setFactory(rdoSessionProgId, [] { return std::shared_ptr<RdoSession>(); });
        QVERIFY_THROWS_EXCEPTION(OperationError, registry.create(rdoSessionProgId));
        registry.setFactory(rdoSessionProgId, []() -> std::shared_ptr<RdoSession> {
            throw OperationError(QStringLiteral("no MAPI"));
        });
        QVERIFY(errorOf([&] { registry.create(rdoSessionProgId); }).endsWith(u": no MAPI"));
        registry.removeFactory(rdoSessionProgId);
        QVERIFY_THROWS_EXCEPTION(OperationError, registry.create(rdoSessionProgId));
    }

    void logonFailure()
    {
        RdoSessionRegistry registry;
        registry.setFactory(rdoSessionProgId, [] {
            RdoSessionOptions options;
            options.logonError = QStringLiteral("No mail profile is configured.");
            return std::make_shared<RdoSession>(options);
        });
        auto session = registry.create(rdoSessionProgId);
        QCOMPARE(errorOf([&] { session->Logon(); }),
                 QStringLiteral("No mail profile is configured."));
        QVERIFY(!session->LoggedOn());
        QVERIFY_THROWS_EXCEPTION(OperationError, session->GetDefaultFolder(olFolderInbox));
    }

    void objectsWorkOnlyDuringTheirLogon()
    {
        QTemporaryDir dir;
        auto session = std::make_shared<RdoSession>();
        QVERIFY_THROWS_EXCEPTION(OperationError, session->GetDefaultFolder(olFolderInbox));
        QVERIFY_THROWS_EXCEPTION(OperationError, session->Logoff());
        session->Logon();
        QVERIFY_THROWS_EXCEPTION(OperationError, session->GetDefaultFolder(5));
        auto folder = session->GetDefaultFolder(olFolderInbox);
        auto items = folder->Items();
        QVERIFY_THROWS_EXCEPTION(OperationError, items->Add(1));
        auto mail = items->Add(olMailItem);
        auto resolvable =
            mail->Recipients().Add(QStringLiteral("Bob <bob@example.com>;ann@example.org"));
        QVERIFY(resolvable->Resolve());
        QVERIFY(
            !mail->Recipients().Add(QStringLiteral("bob@example.com;CN=Ann/O=Acme"))->Resolve());
        QVERIFY(!mail->Recipients().Add(QStringLiteral(" . "))->Resolve());
        QCOMPARE(mail->Recipients().Count(), 3);
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 mail->Import(dir.filePath(QStringLiteral("none")), olRfc822));
        QVERIFY_THROWS_EXCEPTION(OperationError,
                                 mail->SaveAs(dir.filePath(QStringLiteral("a.eml")), 1023));
        mail->SaveAs(dir.filePath(QStringLiteral("a.eml")), olRfc822);

        session->Logoff();
        const std::function<void()> calls[] = {
            [&] { folder->Items(); },
            [&] { items->Add(olMailItem); },
            [&] { mail->setSubject(QStringLiteral("x")); },
            [&] { mail->setSentOn(QStringLiteral("01-02-2008")); },
            [&] { mail->Recipients(); },
            [&] { resolvable->Resolve(); },
            [&] { mail->Attachments(); },
            [&] { mail->SaveAs(dir.filePath(QStringLiteral("b.eml")), olRfc822); },
        };
        for (const auto& call : calls) {
            QCOMPARE(errorOf(call), QStringLiteral("The mail session is logged off."));
        }
        // A new logon does not bring back the objects of the old one.
        session->Logon();
        QVERIFY_THROWS_EXCEPTION(OperationError, mail->setBody(QStringLiteral("x")));
        auto fresh = session->GetDefaultFolder(olFolderInbox)->Items()->Add(olMailItem);
        session.reset();
        QVERIFY_THROWS_EXCEPTION(OperationError, fresh->setBody(QStringLiteral("x")));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("b.eml"))));
    }

    void defaultMessageIdsAreUniqueAndValid()
    {
        QTemporaryDir dir;
        RdoSession session;
        session.Logon();
        QSet<QString> ids;
        static const QRegularExpression idLine(QStringLiteral(
            R"(\r\nMessage-ID: <([0-9]{14}\.[0-9]+\.[0-9]+\.[0-9a-f]{16}@tarvik\.invalid)>\r\n)"));
        for (int i = 0; i < 3; ++i) {
            const QString path = dir.filePath(QStringLiteral("%1.eml").arg(i));
            session.GetDefaultFolder(olFolderInbox)
                ->Items()
                ->Add(olMailItem)
                ->SaveAs(path, olRfc822);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const auto m = idLine.match(QString::fromLatin1(f.readAll()));
            QVERIFY(m.hasMatch());
            ids.insert(m.captured(1));
        }
        QCOMPARE(ids.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestRdoSession)
#include "tst_RdoSession.moc"
