#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvik::test {

struct EmlAddress {
    QString name;
    QString address;
    friend bool operator==(const EmlAddress&, const EmlAddress&) = default;
    // For QCOMPARE's failure messages.
    friend char* toString(const EmlAddress& a)
    {
        return qstrdup(QStringLiteral("\"%1\" <%2>").arg(a.name, a.address).toUtf8().constData());
    }
};

struct EmlAttachment {
    QString fileName;
    QString contentType;
    QString encoding;
    qint64 size = 0;
    QByteArray sha256;              // hex
    std::optional<QByteArray> data; // for files up to 1 MiB
};

// What Python's standard email parser (policy.default) reads from a .eml
// file: an independent check of the writer's output.
struct EmlReport {
    QString error; // non-empty when the parser could not be run
    QJsonObject json;
    QStringList defects;
    QList<EmlAddress> from, to, cc, bcc;
    std::optional<QString> subject;
    std::optional<QString> messageId;
    std::optional<qint64> dateEpoch; // seconds since 1970 UTC
    std::optional<int> dateOffsetMinutes;
    QString contentType;
    bool unsent = false;
    std::optional<QString> body;
    QString bodyEncoding;
    QList<EmlAttachment> attachments;
    // Raw bytes: line ends other than CR LF, longest lines, header names in order.
    int bareLf = 0;
    int bareCr = 0;
    int maxLine = 0;
    int maxHeaderLine = 0;
    QStringList headerNames;

    bool ok() const { return error.isEmpty() && defects.isEmpty(); }
};

// Runs tests/support/eml_check.py with python3 on path.
EmlReport checkEml(const QString& path);

} // namespace tarvik::test
