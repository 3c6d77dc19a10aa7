// bench_store: measures the store builder and the local-store back-end.
//
//   bench_store build DESCRIPTION.json OUTPUT   builds once; prints seconds and peak memory
//   bench_store walk STORE [RUNS]               reads every folder as the scan, preview and
//                                               export do; prints documents per second of
//                                               each run, their median and peak memory

#include "base/OperationError.h"
#include "notes/NotesSessionRegistry.h"
#include "notes/builder/StoreBuilder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

using namespace tarvik::notes;

namespace {

long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

const char* const itemNames[] = {
    "Subject",       "From",       "INetFrom",   "SendTo",          "CopyTo",
    "BlindCopyTo",   "InetSendTo", "InetCopyTo", "InetBlindCopyTo", "PostedDate",
    "DeliveredDate", "$Revisions", "Body"};

struct WalkResult {
    qint64 documents = 0;
    qint64 textBytes = 0;
};

// The callers' way: a session by ProgID, the database opened again for every folder,
// the count read again before every document, every item read by name.
WalkResult walk(const NotesSessionRegistry& registry, const QString& path)
{
    WalkResult result;
    QStringList names; // callers name items by literals, which cost no conversion
    for (const char* item : itemNames)
        names.append(QLatin1String(item));
    const auto session = registry.create(NotesSessionRegistry::dominoProgId);
    auto db = session->GetDatabase(QString(), path);
    result.textBytes += db->Title().size();
    QStringList folders = {QStringLiteral("($Inbox)"),    QStringLiteral("($Drafts)"),
                           QStringLiteral("($Sent)"),     QStringLiteral("($Follow-Up)"),
                           QStringLiteral("($JunkMail)"), QStringLiteral("($Trash)")};
    const auto views = db->Views();
    for (const auto& view : views.value_or(NotesViewList())) {
        const QString name = view->Name();
        if (!name.isEmpty() && !name.startsWith(QLatin1Char('(')) && view->isfolder())
            folders.append(name);
    }
    for (const QString& folder : folders) {
        db = session->GetDatabase(QString(), path);
        const auto view = db->GetView(folder);
        if (!view)
            continue;
        auto doc = view->GetFirstDocument();
        for (qint64 i = 0; doc && i < view->AllEntries().Count(); ++i) {
            for (const QString& name : names) {
                if (!doc->hasitem(name))
                    continue;
                const NotesValueArray values = doc->GetItemValue(name);
                for (qsizetype k = 0; k <= values.upperBound(); ++k)
                    result.textBytes += values.textAt(k).size();
            }
            result.textBytes += doc->Size() & 1;
            if (doc->HasEmbedded()) {
                const auto body = doc->GetFirstItem(QStringLiteral("Body"));
                if (body && body->Type() == 1) {
                    const auto objects = body->EmbeddedObjects();
                    for (const auto& o : objects.value_or(NotesEmbeddedObjectList()))
                        result.textBytes += o->Name().size() + o->Type();
                }
            }
            ++result.documents;
            doc = view->GetNextDocument(doc);
        }
    }
    return result;
}

int build(const QString& description, const QString& output)
{
    QElapsedTimer timer;
    timer.start();
    const auto result =
        StoreBuilder::buildFile(description, output, StoreBuilder::Existing::Replace);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    for (const QString& fault : result.faults)
        std::fprintf(stderr, "%s\n", qPrintable(fault));
    std::printf("build: %.2f s, peak memory %.1f MiB\n", seconds, peakMemoryKiB() / 1024.0);
    return result.ok() ? 0 : 1;
}

int walkRuns(const QString& path, int runs)
{
    const auto registry = NotesSessionRegistry::withDefaults();
    QList<double> rates;
    qint64 documents = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        const WalkResult w = walk(registry, path);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        documents = w.documents;
        rates.append(double(w.documents) / seconds);
        std::printf("walk %d: %lld documents in %.3f s = %.0f documents/s (%lld text bytes)\n",
                    r + 1, static_cast<long long>(w.documents), seconds, rates.last(),
                    static_cast<long long>(w.textBytes));
    }
    std::sort(rates.begin(), rates.end());
    const double median = rates.size() % 2
                              ? rates[rates.size() / 2]
                              : (rates[rates.size() / 2 - 1] + rates[rates.size() / 2]) / 2;
    std::printf("walk median: %.0f documents/s over %d runs of %lld documents, "
                "peak memory %.1f MiB\n",
                median, runs, static_cast<long long>(documents), peakMemoryKiB() / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    try {
        if (mode == "build" && argc == 4)
            return build(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]));
        if (mode == "walk" && (argc == 3 || argc == 4))
            return walkRuns(QFile::decodeName(argv[2]),
                            argc == 4 ? std::max(1, std::atoi(argv[3])) : 5);
    } catch (const tarvik::OperationError& e) {
        std::fprintf(stderr, "bench_store: %s\n", qPrintable(e.message()));
        return 2;
    }
    std::fputs("Usage: bench_store build DESCRIPTION.json OUTPUT | walk STORE [RUNS]\n", stderr);
    return 2;
}
