#include "app/MessageBuilder.h"

#include "app/FileNames.h"
#include "app/UtilityProcedures.h"
#include "base/FailureStyles.h"
#include "base/Platform.h"
#include "mail/RdoSession.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

namespace tarvik {

namespace {

// Random numbers tried before counting upwards from past their range.
constexpr int kRandomAttempts = 100;
constexpr std::int32_t kRandomHigh = 40000;
// The longest number and ".eml" after the subject.
constexpr int kNumberAndExtension = 10 + 4;

// A line of text with no line breaks or other control characters, so that a
// value can never start a header line of its own.
QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return out;
}

} // namespace

MessageBuilder::MessageBuilder(TempFolder& temp, RandomGenerator& random)
    : m_temp(temp), m_random(random)
{}

MessageBuilder::~MessageBuilder()
{
    finish();
}

QString MessageBuilder::finish()
{
    if (!m_senderPending)
        return {};
    m_senderPending = false;
    QString path;
    try {
        path = GetTempFolder(m_temp) + QStringLiteral("sqm.pbs");
    } catch (const OperationError& e) {
        return e.message();
    }
    QString error;
    if (!platform::writeFileContent(path, m_senderLine, &error))
        return QStringLiteral("Cannot write %1: %2").arg(path, error);
    return {};
}

QString MessageBuilder::todayText()
{
    return QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"));
}

QString MessageBuilder::freeFileName(const QString& folder, const QString& stem, int attempt)
{
    qint64 n;
    if (attempt < kRandomAttempts) {
        n = RandomNumber(m_random, 1, kRandomHigh);
    } else {
        // Every random try met a taken name: count upwards from past the
        // random range, remembering where the last search ended, so the search
        // always ends and stays quick.
        qint64& next = m_nextSequential[folder + QLatin1Char('\n') + stem];
        if (next <= kRandomHigh)
            next = kRandomHigh + 1;
        n = next++;
    }
    return folder + stem + QString::number(n) + QStringLiteral(".eml");
}

MessageOutcome MessageBuilder::CreateEmailItem(mail::RdoSession* session, const QString& exportRoot,
                                               EmailItem& message)
{
    MessageOutcome outcome;
    auto note = [&outcome](const OperationError& e) {
        outcome.problems.append(e.message());
    };
    auto step = [&note](auto&& f) {
        try {
            f();
            return true;
        } catch (const OperationError& e) {
            note(e);
            return false;
        }
    };

    std::shared_ptr<mail::RdoMail> item;
    QString itemFailure;
    try {
        item = require(session, "Mail session")
                   ->GetDefaultFolder(mail::olFolderInbox)
                   ->Items()
                   ->Add(mail::olMailItem);
    } catch (const OperationError& e) {
        itemFailure = e.message();
    }

    // The sender travels as one header line, as the writer imports it. The
    // line goes to the sender header file once, when the builder finishes: the
    // file ends holding the last sender either way, and no message waits for
    // its round trip through the disk.
    m_senderLine = (QStringLiteral("From:") + oneLine(message.from)).toLocal8Bit() + "\r\n";
    m_senderPending = true;
    if (item) {
        step([&] { item->importText(m_senderLine, mail::olRfc822); });
        step([&] { item->setSent(true); });
        step([&] { item->setSubject(message.subject); });
        step([&] { item->setBody(message.body); });
        step([&] { item->setCC(message.cc); });
        step([&] { item->setBCC(message.bcc); });
        step([&] { item->Recipients().Add(message.to)->Resolve(); });
        const QString date = message.date.isEmpty() ? todayText() : message.date;
        step([&] { item->setSentOn(date); });
        step([&] { item->setReceivedTime(date); });
    }

    if (!message.attachFileName.isEmpty()) {
        message.attachFileName.remove(0, 1);
        const QStringList paths = message.attachFileName.split(QLatin1Char('|'));
        for (const QString& path : paths) {
            if (path.isEmpty())
                continue;
            const AttachmentNote info = message.attachments.value(path);
            const QString shown =
                info.displayName.isEmpty() ? QFileInfo(path).fileName() : info.displayName;
            try {
                if (!item)
                    throw OperationError(itemFailure);
                item->Attachments().Add(path, info.displayName);
                ++outcome.attached;
            } catch (const OperationError& e) {
                const QString why =
                    info.extractFailure.isEmpty() ? e.message() : info.extractFailure;
                outcome.droppedAttachments.append(shown + QStringLiteral(": ") + why);
            }
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                QFile::remove(path);
            // The attachment's own folder in the temporary folder goes too.
            const QString folder = QFileInfo(path).path();
            if (folder.startsWith(GetTempFolder(m_temp)))
                QDir().rmdir(folder);
        }
    }

    message.subject = names::cleanSubject(message.subject);
    if (!item) {
        outcome.failure = itemFailure;
        return outcome;
    }

    const QString folder = exportRoot + message.folderName + platform::separator();
    const QString stem = names::subjectPart(message.subject, kNumberAndExtension);
    for (int attempt = 0;; ++attempt) {
        QString path;
        try {
            path = freeFileName(folder, stem, attempt);
        } catch (const OperationError& e) {
            outcome.failure = e.message();
            break;
        }
        if (platform::nameIsTaken(path))
            continue;
        try {
            item->SaveAs(path, mail::olRfc822);
            outcome.saved = true;
            outcome.path = path;
            break;
        } catch (const OperationError& e) {
            // Another file took the name meanwhile: draw again. Anything else
            // is this message's failure.
            if (platform::nameIsTaken(path))
                continue;
            outcome.failure = e.message();
            break;
        }
    }
    return outcome;
}

} // namespace tarvik
