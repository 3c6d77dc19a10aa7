#include "EmlCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

namespace tarvik::test {

namespace {

QList<EmlAddress> addressList(const QJsonValue& value)
{
    QList<EmlAddress> list;
    for (const QJsonValue& a : value.toArray())
        list.append({a[QLatin1String("name")].toString(), a[QLatin1String("address")].toString()});
    return list;
}

std::optional<QString> optionalText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    return std::nullopt;
}

} // namespace

EmlReport checkEml(const QString& path)
{
    EmlReport report;
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        report.error = QStringLiteral("python3 was not found");
        return report;
    }
    QProcess process;
    process.start(python, {QStringLiteral(TARVIK_SOURCE_DIR "/tests/support/eml_check.py"), path});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        report.error = QStringLiteral("eml_check.py failed: ") +
                       QString::fromUtf8(process.readAllStandardError());
        return report;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(process.readAllStandardOutput(), &parseError);
    if (!doc.isObject()) {
        report.error = QStringLiteral("eml_check.py gave no JSON: ") + parseError.errorString();
        return report;
    }
    const QJsonObject j = doc.object();
    report.json = j;
    for (const QJsonValue& d : j[QLatin1String("defects")].toArray())
        report.defects.append(d.toString());
    report.from = addressList(j[QLatin1String("from")]);
    report.to = addressList(j[QLatin1String("to")]);
    report.cc = addressList(j[QLatin1String("cc")]);
    report.bcc = addressList(j[QLatin1String("bcc")]);
    report.subject = optionalText(j[QLatin1String("subject")]);
    report.messageId = optionalText(j[QLatin1String("message_id")]);
    if (j.contains(QLatin1String("date"))) {
        const QJsonObject date = j[QLatin1String("date")].toObject();
        report.dateEpoch = qint64(date[QLatin1String("epoch")].toDouble());
        report.dateOffsetMinutes = date[QLatin1String("offset_minutes")].toInt();
    }
    report.contentType = j[QLatin1String("content_type")].toString();
    report.unsent = j[QLatin1String("unsent")].toBool();
    report.body = optionalText(j[QLatin1String("body")]);
    report.bodyEncoding = j[QLatin1String("body_encoding")].toString();
    for (const QJsonValue& v : j[QLatin1String("attachments")].toArray()) {
        EmlAttachment a;
        a.fileName = v[QLatin1String("filename")].toString();
        a.contentType = v[QLatin1String("content_type")].toString();
        a.encoding = v[QLatin1String("encoding")].toString();
        a.size = qint64(v[QLatin1String("size")].toDouble());
        a.sha256 = v[QLatin1String("sha256")].toString().toLatin1();
        if (v[QLatin1String("data")].isString())
            a.data = QByteArray::fromBase64(v[QLatin1String("data")].toString().toLatin1());
        report.attachments.append(a);
    }
    const QJsonObject raw = j[QLatin1String("raw")].toObject();
    report.bareLf = raw[QLatin1String("bare_lf")].toInt();
    report.bareCr = raw[QLatin1String("bare_cr")].toInt();
    report.maxLine = raw[QLatin1String("max_line")].toInt();
    report.maxHeaderLine = raw[QLatin1String("max_header_line")].toInt();
    for (const QJsonValue& n : raw[QLatin1String("header_names")].toArray())
        report.headerNames.append(n.toString());
    return report;
}

} // namespace tarvik::test
