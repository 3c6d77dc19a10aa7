#include "StoreFixture.h"

#include "base/OperationError.h"
#include "notes/builder/StoreBuilder.h"

#include <QCryptographicHash>
#include <QFile>

namespace tarvik::test {

StoreFixture::StoreFixture() : m_folder(m_dir.path())
{}

QString StoreFixture::path(const QString& name) const
{
    return m_folder + QLatin1Char('/') + name;
}

QString StoreFixture::buildStore(const QByteArray& json, const QString& name)
{
    const QString out = path(name.isEmpty() ? QStringLiteral("store-%1.nsf").arg(++m_built) : name);
    const auto result = notes::StoreBuilder::build(json, out);
    if (!result.ok())
        throw OperationError(QStringLiteral("faulty test description:\n") +
                             result.faults.join(QLatin1Char('\n')));
    return out;
}

QString StoreFixture::buildSample()
{
    const QString out = path(QStringLiteral("sample-mail.nsf"));
    const auto result = notes::StoreBuilder::buildFile(
        QStringLiteral(TARVIK_SOURCE_DIR "/samples/sample-mail.json"), out,
        notes::StoreBuilder::Existing::Replace);
    if (!result.ok())
        throw OperationError(QStringLiteral("faulty sample description:\n") +
                             result.faults.join(QLatin1Char('\n')));
    return out;
}

QByteArray StoreFixture::fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

} // namespace tarvik::test
