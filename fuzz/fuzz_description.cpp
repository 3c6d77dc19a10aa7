// Store descriptions of any bytes: the builder's check and build agree, never
// crash, leave nothing behind when they refuse, and what they build opens and
// reads through the back-end.

#include "FuzzSupport.h"
#include "StoreWalk.h"
#include "base/OperationError.h"
#include "notes/builder/StoreBuilder.h"

#include <QDir>
#include <QFile>

using namespace tarvik;
using namespace tarvik::fuzz;
using tarvik::notes::StoreBuilder;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    limitFileSize(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Scratch& scratch = Scratch::instance();
    scratch.reset();
    const QByteArray description(reinterpret_cast<const char*>(data), qsizetype(size));

    const QStringList faults = StoreBuilder::check(description);
    FUZZ_CHECK(faults.size() <= StoreBuilder::maxFaults + 1,
               QStringLiteral("%1 faults reported").arg(faults.size()));
    for (const QString& fault : faults)
        FUZZ_CHECK(!fault.trimmed().isEmpty(), QStringLiteral("an empty fault"));

    const QString out = scratch.path() + QStringLiteral("/store.nsf");
    notes::StoreBuildResult result;
    try {
        result = StoreBuilder::build(description, out, StoreBuilder::Existing::Replace);
    } catch (const OperationError& e) {
        FUZZ_CHECK(false, QStringLiteral("building a description threw: ") + e.message());
    }
    FUZZ_CHECK(result.faults == faults, QStringLiteral("check found %1 faults, build %2: %3 / %4")
                                            .arg(faults.size())
                                            .arg(result.faults.size())
                                            .arg(faults.value(0), result.faults.value(0)));

    const QStringList left =
        QDir(scratch.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (!result.ok()) {
        FUZZ_CHECK(left.isEmpty(), QStringLiteral("a refused build left ") + left.join(u' '));
        return 0;
    }
    FUZZ_CHECK(left == QStringList{QStringLiteral("store.nsf")},
               QStringLiteral("a build left ") + left.join(u' '));
    const QString objects = scratch.path() + QStringLiteral("/objects");
    QDir().mkpath(objects);
    FUZZ_CHECK(walkStore(out, objects) >= 0, QStringLiteral("a built store does not open"));
    return 0;
}
