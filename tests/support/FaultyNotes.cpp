#include "FaultyNotes.h"

#include "app/AppContext.h"
#include "base/OperationError.h"
#include "notes/LocalStore.h"

namespace tarvik::test {

namespace {

using namespace tarvik::notes;
using Faults = std::shared_ptr<NotesFaults>;

class FaultyView final : public NotesView {
public:
    FaultyView(std::shared_ptr<NotesView> inner, Faults faults)
        : m_inner(std::move(inner)), m_faults(std::move(faults))
    {}

    QString Name() override { return m_inner->Name(); }
    bool isfolder() override { return m_inner->isfolder(); }
    NotesViewEntryCollection AllEntries() override
    {
        failWhenUnreadable();
        return m_inner->AllEntries();
    }

    NotesViewReading reading() override
    {
        failWhenUnreadable();
        NotesViewReading r = m_inner->reading();
        if (m_inner->Name() == m_faults->view && !m_faults->partialProblems.isEmpty()) {
            r.partial = true;
            r.problems = m_faults->partialProblems;
        }
        return r;
    }

    std::shared_ptr<NotesDocument> GetFirstDocument() override
    {
        failWhenUnreadable();
        const QString name = m_inner->Name();
        if (!m_faults->databaseGoneAfter.isEmpty() && name == m_faults->databaseGoneAfter)
            m_faults->databaseGone = true;
        if (name == m_faults->view && m_faults->firstFails)
            throw OperationError(m_faults->reason);
        m_given = 0;
        auto doc = m_inner->GetFirstDocument();
        m_given += doc ? 1 : 0;
        return doc;
    }

    std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) override
    {
        if (m_inner->Name() == m_faults->view && m_faults->nextFailsAfter > 0 &&
            m_given >= m_faults->nextFailsAfter)
            throw OperationError(m_faults->reason);
        auto doc = m_inner->GetNextDocument(current);
        m_given += doc ? 1 : 0;
        return doc;
    }

private:
    void failWhenUnreadable()
    {
        if (m_faults->unreadable && m_inner->Name() == m_faults->view)
            throw OperationError(m_faults->reason);
    }

    std::shared_ptr<NotesView> m_inner;
    Faults m_faults;
    int m_given = 0;
};

std::shared_ptr<NotesView> wrap(std::shared_ptr<NotesView> view, const Faults& faults)
{
    return view ? std::make_shared<FaultyView>(std::move(view), faults) : nullptr;
}

class FaultyDatabase final : public NotesDatabase {
public:
    FaultyDatabase(std::shared_ptr<NotesDatabase> inner, Faults faults)
        : m_inner(std::move(inner)), m_faults(std::move(faults))
    {}

    QString Title() override { return m_inner->Title(); }

    std::optional<NotesViewList> Views() override
    {
        std::optional<NotesViewList> views = m_inner->Views();
        if (views) {
            for (std::shared_ptr<NotesView>& v : *views)
                v = wrap(v, m_faults);
        }
        return views;
    }

    std::shared_ptr<NotesView> GetView(const QString& name) override
    {
        return wrap(m_inner->GetView(name), m_faults);
    }

    std::shared_ptr<NotesDocumentCollection> AllDocuments() override
    {
        return m_inner->AllDocuments();
    }

private:
    std::shared_ptr<NotesDatabase> m_inner;
    Faults m_faults;
};

class FaultySession final : public NotesSession {
public:
    FaultySession(std::shared_ptr<NotesSession> inner, Faults faults)
        : m_inner(std::move(inner)), m_faults(std::move(faults))
    {}

    std::shared_ptr<NotesDatabase> GetDatabase(const QString& server, const QString& path) override
    {
        if (m_faults->databaseGone)
            throw OperationError(
                QStringLiteral("\"%1\" cannot be opened: the database has gone away").arg(path));
        return std::make_shared<FaultyDatabase>(m_inner->GetDatabase(server, path), m_faults);
    }

private:
    std::shared_ptr<NotesSession> m_inner;
    Faults m_faults;
};

} // namespace

void installFaultyNotes(AppContext& context, std::shared_ptr<NotesFaults> faults)
{
    auto cache = std::make_shared<StoreConnectionCache>();
    context.notesSessions.setFactory(NotesSessionRegistry::dominoProgId, [cache, faults] {
        return std::make_shared<FaultySession>(std::make_shared<LocalStoreSession>(cache), faults);
    });
}

} // namespace tarvik::test
