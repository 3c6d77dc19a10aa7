#include "StoreWalk.h"

#include "FuzzSupport.h"
#include "base/OperationError.h"
#include "notes/LocalStore.h"

#include <QFile>

#include <memory>

namespace tarvik::fuzz {

namespace {

using namespace tarvik::notes;

// More steps than any store a fuzzer makes can hold: a walk that gets here
// is going round in circles.
constexpr long kMaxSteps = 1000000;

const QString itemNames[] = {
    QStringLiteral("Subject"),
    QStringLiteral("From"),
    QStringLiteral("INetFrom"),
    QStringLiteral("SendTo"),
    QStringLiteral("InetSendTo"),
    QStringLiteral("CopyTo"),
    QStringLiteral("InetCopyTo"),
    QStringLiteral("BlindCopyTo"),
    QStringLiteral("InetBlindCopyTo"),
    QStringLiteral("PostedDate"),
    QStringLiteral("DeliveredDate"),
    QStringLiteral("Body"),
    QStringLiteral("Form"),
};

template <class F>
void tolerate(F&& f)
{
    try {
        f();
    } catch (const OperationError&) {
    }
}

void walkObjects(const std::optional<NotesEmbeddedObjectList>& objects, const QString& folder,
                 int& extracted)
{
    if (!objects)
        return;
    for (const std::shared_ptr<NotesEmbeddedObject>& object : *objects) {
        FUZZ_CHECK(object != nullptr, QStringLiteral("an embedded object list holds nothing"));
        tolerate([&] {
            object->Type();
            object->Name();
            const QString path = folder + QStringLiteral("/object") + QString::number(++extracted);
            try {
                object->ExtractFile(path);
            } catch (const OperationError&) {
                FUZZ_CHECK(!QFile::exists(path),
                           QStringLiteral("a failed extraction left %1").arg(path));
                throw;
            }
            QFile::remove(path);
        });
    }
}

void walkDocument(NotesDocument& doc, const QString& folder, int& extracted)
{
    tolerate([&] { doc.Size(); });
    tolerate([&] { doc.HasEmbedded(); });
    for (const QString& name : itemNames) {
        tolerate([&] {
            doc.hasitem(name);
            const NotesValueArray values = doc.GetItemValue(name);
            for (qsizetype i = 0; i <= values.upperBound(); ++i)
                values.textAt(i);
        });
    }
    tolerate([&] {
        if (std::shared_ptr<NotesItem> body = doc.GetFirstItem(QStringLiteral("Body")))
            body->Name();
    });
    // Every item's objects, then the document's own, as the export takes them.
    tolerate([&] {
        for (const std::shared_ptr<NotesItem>& item : doc.Items()) {
            FUZZ_CHECK(item != nullptr, QStringLiteral("the item list holds nothing"));
            tolerate([&] {
                item->Name();
                item->Type();
                walkObjects(item->EmbeddedObjects(), folder, extracted);
            });
        }
    });
    tolerate([&] { walkObjects(doc.EmbeddedObjects(), folder, extracted); });
}

long walkView(NotesView& view, const QString& folder, int& extracted)
{
    view.Name();
    view.isfolder();
    view.AllEntries().Count();
    long steps = 0;
    std::shared_ptr<NotesDocument> doc = view.GetFirstDocument();
    while (doc) {
        FUZZ_CHECK(++steps < kMaxSteps, QStringLiteral("a view's documents never end"));
        walkDocument(*doc, folder, extracted);
        doc = view.GetNextDocument(doc);
    }
    return steps;
}

} // namespace

long walkStore(const QString& path, const QString& folder)
{
    auto session = std::make_shared<LocalStoreSession>();
    std::shared_ptr<NotesDatabase> db;
    try {
        db = session->GetDatabase(QString(), path);
    } catch (const OperationError&) {
        return -1;
    }
    FUZZ_CHECK(db != nullptr, QStringLiteral("GetDatabase gave nothing without failing"));
    tolerate([&] { db->Title(); });
    std::optional<NotesViewList> views;
    tolerate([&] { views = db->Views(); });
    if (!views)
        return 0;
    long documents = 0;
    int extracted = 0;
    for (const std::shared_ptr<NotesView>& view : *views) {
        FUZZ_CHECK(view != nullptr, QStringLiteral("the view list holds nothing"));
        tolerate([&] { documents += walkView(*view, folder, extracted); });
        tolerate([&] {
            if (std::shared_ptr<NotesView> byName = db->GetView(view->Name()))
                byName->AllEntries();
        });
    }
    return documents;
}

} // namespace tarvik::fuzz
