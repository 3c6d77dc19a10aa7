#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace tarvik::test {

// Builds store files from store descriptions written in the tests, inside a
// temporary folder that lives as long as the fixture.
class StoreFixture {
public:
    StoreFixture();

    const QString& folder() const { return m_folder; }
    // A path in the fixture's folder.
    QString path(const QString& name) const;

    // Builds json into a new store file (named name, or a fresh name) and returns its
    // path. Throws tarvik::OperationError listing the faults of a faulty description.
    QString buildStore(const QByteArray& json, const QString& name = {});

    // The bundled sample database built from samples/sample-mail.json.
    QString buildSample();

    // SHA-256 of a file's bytes (empty when it cannot be read).
    static QByteArray fileHash(const QString& path);

private:
    QTemporaryDir m_dir;
    QString m_folder;
    int m_built = 0;
};

} // namespace tarvik::test
