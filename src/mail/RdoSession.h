#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarvik::mail {

class RdoFolder;
class RdoItems;
class RdoMail;
class RdoRecipient;
class AttachmentFile;
struct SessionState;

// Codes the callers pass.
inline constexpr int olFolderInbox = 6;
inline constexpr int olMailItem = 0;
inline constexpr int olRfc822 = 1024;

// What a session takes from outside. Empty functions mean the real ones.
struct RdoSessionOptions {
    // The current time, used as the Date of a message that has neither a sent
    // nor a received time.
    std::function<QDateTime()> clock;
    // A new Message-ID without angle brackets ("local@domain"). The default
    // makes unique ones in the "tarvik.invalid" domain.
    std::function<QString()> messageIdGenerator;
    // When set, Logon fails with this message (no mail profile, say).
    std::optional<QString> logonError;
};

// The writer's session: logged on, it hands out the Inbox folder whose items
// become .eml files. Objects it handed out stop working when it logs off.
class RdoSession {
public:
    explicit RdoSession(RdoSessionOptions options = {});
    ~RdoSession();
    RdoSession(const RdoSession&) = delete;
    RdoSession& operator=(const RdoSession&) = delete;

    void Logon();
    void Logoff();
    bool LoggedOn() const;
    std::shared_ptr<RdoFolder> GetDefaultFolder(int folderType);

private:
    std::shared_ptr<SessionState> m_state;
};

// The session's Inbox; only a source of new items.
class RdoFolder {
public:
    RdoFolder(std::shared_ptr<SessionState> state, quint64 logon);
    std::shared_ptr<RdoItems> Items();

private:
    std::shared_ptr<SessionState> m_state;
    quint64 m_logon;
};

class RdoItems {
public:
    RdoItems(std::shared_ptr<SessionState> state, quint64 logon);
    std::shared_ptr<RdoMail> Add(int itemType);

private:
    std::shared_ptr<SessionState> m_state;
    quint64 m_logon;
};

// One recipient text; it may name several people separated by ";".
class RdoRecipient {
public:
    RdoRecipient(std::shared_ptr<SessionState> state, quint64 logon, QString text);
    QString Name() const;
    // True when every entry of the text is an Internet address.
    bool Resolve();
    bool Resolved() const { return m_resolved; }

private:
    friend class RdoMail;
    std::shared_ptr<SessionState> m_state;
    quint64 m_logon;
    QString m_text;
    bool m_resolved = false;
};

class RdoRecipients {
public:
    std::shared_ptr<RdoRecipient> Add(const QString& text);
    int Count() const;

private:
    friend class RdoMail;
    explicit RdoRecipients(RdoMail& mail) : m_mail(mail) {}
    RdoMail& m_mail;
    std::vector<std::shared_ptr<RdoRecipient>> m_items;
};

class RdoAttachments {
public:
    // Opens the file now and keeps it open: the caller may delete it right
    // after this call, its content is read when the message is saved. The
    // message names it displayName, or after the path's last part.
    void Add(const QString& path, const QString& displayName = {});
    int Count() const;

private:
    friend class RdoMail;
    explicit RdoAttachments(RdoMail& mail) : m_mail(mail) {}
    RdoMail& m_mail;
    std::vector<std::shared_ptr<AttachmentFile>> m_files;
};

// A new, unsaved mail message. It lives only in memory; SaveAs writes it as
// one RFC 5322 / MIME file and may be called again (same message each time).
class RdoMail {
public:
    RdoMail(std::shared_ptr<SessionState> state, quint64 logon);
    ~RdoMail();
    RdoMail(const RdoMail&) = delete;
    RdoMail& operator=(const RdoMail&) = delete;

    // Takes From, To, Cc, Bcc and Subject from the header lines of an
    // RFC 822 text file in the system's 8-bit code page.
    void Import(const QString& path, int format);
    // The same for an RFC 822 text held in memory.
    void importText(const QByteArray& text, int format);

    void setSent(bool sent);
    void setSubject(const QString& subject);
    void setBody(const QString& body);
    void setCC(const QString& cc);
    void setBCC(const QString& bcc);
    RdoRecipients& Recipients();
    void setSentOn(const QString& dateText);
    void setReceivedTime(const QString& dateText);
    RdoAttachments& Attachments();

    // Writes the message to path; never replaces an existing file and never
    // leaves a partial file behind.
    void SaveAs(const QString& path, int format);

private:
    friend class RdoRecipients;
    friend class RdoAttachments;
    void checkAlive() const;
    void importHeaders(const QList<std::pair<QString, QString>>& fields);

    std::shared_ptr<SessionState> m_state;
    quint64 m_logon;
    RdoRecipients m_recipients{*this};
    RdoAttachments m_attachments{*this};
    QString m_from;
    QString m_importedTo;
    QString m_subject;
    QString m_body;
    QString m_cc;
    QString m_bcc;
    bool m_sent = false;
    std::optional<QDateTime> m_sentOn;
    std::optional<QDateTime> m_receivedTime;
    // Fixed at the first SaveAs so that every save writes the same message.
    QString m_messageId;
    QDateTime m_fallbackDate;
};

} // namespace tarvik::mail
