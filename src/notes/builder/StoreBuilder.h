#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tarvik::notes {

// What building a store came to: the faults of the description, each written as
// "place: problem" (for example `views[3].documents[7]: no document has the id "m9"`).
struct StoreBuildResult {
    QStringList faults;
    bool ok() const { return faults.isEmpty(); }
};

// Reads store descriptions (JSON), checks them and writes the local store files they
// describe. The store is written in one transaction into a temporary file beside the
// output and renamed into place at the end, so a refused, failed or interrupted
// build leaves nothing behind.
class StoreBuilder {
public:
    enum class Existing { Refuse, Replace };
    // Reporting stops after this many faults.
    static constexpr int maxFaults = 100;

    // The faults of a description; empty when it is sound. Writes nothing.
    static QStringList check(const QByteArray& description);

    // Builds the store at outputPath. Faults of the description come back in the
    // result and nothing is written; a file that cannot be written (or an existing
    // output under Existing::Refuse) throws OperationError.
    static StoreBuildResult build(const QByteArray& description, const QString& outputPath,
                                  Existing existing = Existing::Refuse);

    // The same with the description read from a file (whose memory is given back
    // before the store is written).
    static StoreBuildResult buildFile(const QString& descriptionPath, const QString& outputPath,
                                      Existing existing = Existing::Refuse);
};

} // namespace tarvik::notes
