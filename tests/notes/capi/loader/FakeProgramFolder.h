#pragma once

#include "FakeNotesState.h"

#include "base/LoadedLibrary.h"
#include "notes/capi/NotesRuntime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A program folder of its own holding a copy of one of the small libraries, so that every
// test starts a library that nothing in this process has started yet; its state is reached
// by opening the same file.
class ProgramFolder {
public:
    explicit ProgramFolder(const char* library = FAKE_NOTES_WHOLE)
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::copy(QString::fromUtf8(library), libraryPath()));
        QString why;
        m_library = tarvik::LoadedLibrary::load(libraryPath(), &why);
        QVERIFY2(m_library, qPrintable(why));
        m_state = static_cast<FakeNotesState*>(m_library.symbol("tarvikFakeNotes"));
        QVERIFY(m_state);
        // Its code stays while a runtime that may outlive this folder uses it.
        m_library.keepLoaded();
    }

    QString path() const { return m_dir.path(); }
    QString libraryPath() const
    {
        return m_dir.filePath(tarvik::notes::capi::notesLibraryFileName());
    }
    QString file(const QString& name, const QByteArray& content = "x") const
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return {};
        return f.fileName();
    }
    FakeNotesState& state() { return *m_state; }

    tarvik::notes::capi::NotesApiSettings settings() const
    {
        tarvik::notes::capi::NotesApiSettings s;
        s.programFolder = path();
        return s;
    }

private:
    QTemporaryDir m_dir;
    tarvik::LoadedLibrary m_library;
    FakeNotesState* m_state = nullptr;
};
