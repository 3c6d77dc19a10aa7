// The container against the real sample databases: every file opens, every note is listed and
// reads (or names what it cannot read), the file's own redundancies agree with what is read,
// and every attachment comes out whole.
#include "nsf/Database.h"
#include "nsf/ObjectItem.h"
#include "nsf/Values.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <map>
#include <set>

using namespace tarvik::nsf;

namespace {

QString samplesDir()
{
    return QStringLiteral(TARVIK_NSF_SAMPLES);
}

std::string samplePath(const char* name)
{
    return QDir(samplesDir()).filePath(QString::fromLatin1(name)).toStdString();
}

struct SampleCount {
    const char* file;
    std::uint32_t ods;
    std::size_t notes;
};

// Note counts of the samples, as both this reader and an independent throwaway script that
// walked the files by hand counted them.
const SampleCount kSamples[] = {
    {"MIMEMsg.nsf", 43, 7},     {"acls.nsf", 43, 27},     {"addintst.nsf", 43, 13},
    {"attachment.nsf", 43, 13}, {"big_rich.nsf", 43, 12}, {"billdrv.nsf", 43, 34},
    {"conflict.nsf", 43, 9},    {"dbdriver.nsf", 43, 14}, {"dbdrtest.nsf", 43, 12},
    {"dbpolicy.nsf", 43, 6},    {"des_coll.nsf", 43, 19}, {"discuss.nsf", 43, 16},
    {"doclink1.nsf", 43, 15},   {"embedole.nsf", 43, 8},  {"encrypt.nsf", 43, 13},
    {"export.nsf", 43, 17},     {"faxsrc.nsf", 43, 9},    {"formula.nsf", 43, 14},
    {"ftsearch.nsf", 43, 39},   {"hierarch.nsf", 43, 29}, {"history.nsf", 43, 30},
    {"id.nsf", 43, 10},         {"idstore.nsf", 43, 13},  {"importer.nsf", 43, 13},
    {"intro.nsf", 43, 22},      {"lgimport.nsf", 43, 14}, {"majorversion.nsf", 52, 5},
    {"makeform.nsf", 43, 28},   {"makenav.nsf", 43, 7},   {"makeview.nsf", 43, 27},
    {"marktest.nsf", 43, 6},    {"na_test.nsf", 43, 184}, {"nf_doc.nsf", 41, 11},
    {"notecwf.nsf", 43, 7},     {"notesflo.nsf", 43, 8},  {"numlist.nsf", 43, 19},
    {"pg_doc.nsf", 41, 32},     {"privs.nsf", 43, 16},    {"problems.nsf", 43, 16},
    {"readform.nsf", 43, 30},   {"readview.nsf", 43, 10}, {"reptest.nsf", 43, 5},
    {"response.nsf", 43, 16},   {"richtext.nsf", 43, 14}, {"runmacro.nsf", 43, 32},
    {"simple.nsf", 43, 11},     {"srch_all.nsf", 43, 32}, {"statdemo.nsf", 43, 16},
    {"summary.nsf", 43, 20},    {"threads.nsf", 43, 7},
};

// Notes whose stored sizes are damaged in the sample files (a few bytes of the samples are not
// what Notes wrote): some of their items cannot be located. Every other item of every sample
// reads.
const std::set<std::pair<std::string, NoteId>> kDamagedNotes = {
    {"pg_doc.nsf", 462},  // two item descriptors name items beyond the name table
    {"na_test.nsf", 698}, // its values do not add up to its non-summary record
};

std::string text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> readObject(const Database& db, const FileObject& file)
{
    auto stream = db.openObject(file.object.id, file.compression, file.size);
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[1000]; // an odd piece size: decoding crosses every piece boundary
    while (const std::size_t n = stream->read(buffer))
        out.insert(out.end(), buffer, buffer + n);
    return out;
}

QByteArray failureOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const FormatError& e) {
        return QByteArray(e.what());
    }
    return QByteArrayLiteral("(no failure)");
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

} // namespace

class TestNsfDatabase : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QDir(samplesDir()).exists(), qPrintable(samplesDir()));
        const QStringList files =
            QDir(samplesDir()).entryList({QStringLiteral("*.nsf")}, QDir::Files);
        QCOMPARE(files.size(), int(std::size(kSamples)));
    }

    void everySampleOpensWithItsNotes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<uint>("ods");
        QTest::addColumn<int>("notes");
        for (const SampleCount& s : kSamples)
            QTest::newRow(s.file) << QString::fromLatin1(s.file) << uint(s.ods) << int(s.notes);
    }
    void everySampleOpensWithItsNotes()
    {
        QFETCH(QString, file);
        QFETCH(uint, ods);
        QFETCH(int, notes);
        const auto db = Database::open(samplePath(qPrintable(file)));
        QCOMPARE(db->info().ods, ods);
        QVERIFY(!db->info().title.empty());
        QVERIFY(db->container().problems.empty());
        const std::vector<NoteId>& ids = db->noteIds();
        QCOMPARE(int(ids.size()), notes);
        QVERIFY(std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) == ids.end());

        // The superblock keeps its own list of the documents: it names exactly the notes of
        // class document, leaving out named notes (flag 0x0200, profiles) and deletion stubs.
        std::set<NoteId> documents;
        for (NoteId id : ids) {
            const Note note = db->readNote(id);
            if ((note.noteClass & 0x7FFF) == noteclass::kDocument && !note.stub &&
                !(note.flags & 0x0200))
                documents.insert(id);
        }
        const std::vector<std::uint32_t> listed = db->dataNoteIds().ids;
        QCOMPARE(std::set<NoteId>(listed.begin(), listed.end()), documents);

        // The header's special note IDs: slot k holds the default note of class 1 << k (the
        // design collection, the ACL, the icon, the default form and view, ...).
        for (std::size_t k = 0; k < 16; ++k) {
            const NoteId special = db->info().specialNoteIds[k];
            if (special == 0)
                continue;
            const Note note = db->readNote(special);
            QCOMPARE(note.noteClass & 0x7FFF, 1 << k);
        }
    }

    void everyNoteReadsOrNamesWhatItCannot()
    {
        std::size_t notes = 0, items = 0, failedItems = 0;
        for (const SampleCount& s : kSamples) {
            const auto db = Database::open(samplePath(s.file));
            for (NoteId id : db->noteIds()) {
                const Note note = db->readNote(id);
                ++notes;
                QCOMPARE(note.id, id);
                items += note.items.size();
                const bool damaged = kDamagedNotes.count({s.file, id}) != 0;
                for (const Item& item : note.items) {
                    if (item.ok()) {
                        QCOMPARE(item.value.size() + (item.typeWordStored ? 2 : 0),
                                 std::size_t(item.size));
                        continue;
                    }
                    ++failedItems;
                    QVERIFY2(damaged, qPrintable(QStringLiteral("%1 note %2 item %3: %4")
                                                     .arg(QLatin1String(s.file))
                                                     .arg(id)
                                                     .arg(QString::fromStdString(item.name))
                                                     .arg(QLatin1String(item.error->what()))));
                    QVERIFY(QByteArray(item.error->what()).contains(" at offset 0x"));
                    QVERIFY(item.value.empty());
                }
            }
        }
        QCOMPARE(notes, std::size_t(987));
        QVERIFY(items > 8000);
        QCOMPARE(failedItems, std::size_t(8));
    }

    void introHeader()
    {
        const auto db = Database::open(samplePath("intro.nsf"));
        const DatabaseInfo& info = db->info();
        QCOMPARE(text(info.infoBuffer),
                 std::string("API Test Database (intro)\nCategory 1,Category 2"));
        QCOMPARE(info.title, std::string("API Test Database (intro)"));
        QCOMPARE(info.categories, std::string("Category 1,Category 2"));
        QCOMPARE(info.ods, 43u);
        QCOMPARE(info.replicaId.time, 0x007720EDu);
        QCOMPARE(info.replicaId.date, 0x85255F1Du);
        QCOMPARE(db->noteIds(),
                 (std::vector<NoteId>{270,   274,   278,   282,   286,   290,  294,  298,
                                      302,   306,   310,   314,   318,   322,  8442, 8446,
                                      18622, 18650, 18686, 18694, 18850, 18858}));
        // The special note IDs by slot: the ACL, the icon.
        QCOMPARE(info.specialNoteIds[6], NoteId(302));
        QCOMPARE(info.specialNoteIds[4], NoteId(314));

        // The other header information lines: a template's name.
        const auto book = Database::open(samplePath("na_test.nsf"));
        QCOMPARE(book->info().title, std::string("N&A Performance Test Database"));
        QCOMPARE(book->info().inheritsFrom, std::string("StdR4PersonalAddressBook"));
        QVERIFY(book->info().categories.empty());
    }

    void summaryDocumentsAsTheSampleProgramPrintsThem()
    {
        // The C API sample "summary" prints these documents of summary.nsf, items in this order.
        const auto db = Database::open(samplePath("summary.nsf"));
        const std::map<NoteId, std::string> plainText = {
            {0x20FA, "This is a line of simple text."},
            {0x20FE, "This is a sentence"},
            {0x2102, "This is another line of simple text."},
            {0x2106, "This is a line of plain text."},
        };
        for (const auto& [id, expected] : plainText) {
            const Note note = db->readNote(id);
            QCOMPARE(note.noteClass, noteclass::kDocument);
            std::vector<std::string> names;
            std::vector<std::uint16_t> types;
            for (const Item& item : note.items) {
                names.push_back(item.name);
                types.push_back(item.type);
                QVERIFY(item.storedWithSummary);
            }
            QCOMPARE(names, (std::vector<std::string>{"Form", "plain_text", "number", "time_date",
                                                      "text_list"}));
            QCOMPARE(types, (std::vector<std::uint16_t>{kTypeText, kTypeText, kTypeNumber,
                                                        kTypeTime, kTypeTextList}));
            QCOMPARE(text(note.find("form")->value), std::string("SimpleDataForm"));
            QCOMPARE(text(note.find("plain_text")->value), expected);
            QCOMPARE(decodeNumber(note.find("number")->value), id == 0x20FA ? 0.000987 : 836.0);
        }
    }

    void nonSummaryValuesAreFound()
    {
        // A view note of intro.nsf: its non-summary values are in a record of their own at a
        // file position; its $Signature is there, everything else with the summary values.
        const auto db = Database::open(samplePath("intro.nsf"));
        const Note view = db->readNote(310);
        QCOMPARE(view.noteClass, noteclass::kView);
        QVERIFY(view.warnings.empty());
        for (const Item& item : view.items) {
            QVERIFY(item.ok());
            QCOMPARE(item.storedWithSummary, item.name != "$Signature");
        }
        QCOMPARE(text(view.find("$TITLE")->value), std::string("SimpleDataView"));

        // A memo of MIMEMsg.nsf: the MIME parts of its body lie with the non-summary values,
        // even the one flagged summary; the subject with the summary values.
        const auto mime = Database::open(samplePath("MIMEMsg.nsf"));
        const Note memo = mime->readNote(2294);
        QVERIFY(memo.warnings.empty());
        const std::vector<const Item*> parts = memo.findAll("Body");
        QCOMPARE(parts.size(), std::size_t(4));
        for (const Item* part : parts) {
            QCOMPARE(part->type, std::uint16_t(kTypeMimePart));
            QVERIFY(!part->storedWithSummary);
            QVERIFY(part->ok());
        }
        QVERIFY(text(parts[1]->value).find("This is a test message.") != std::string::npos);
        QVERIFY(memo.find("Subject")->storedWithSummary);

        // Documents of hierarch.nsf keep their non-summary values in the note record itself,
        // after the summary values (note flag 0x2000).
        const auto hierarch = Database::open(samplePath("hierarch.nsf"));
        const Note doc = hierarch->readNote(8446);
        QVERIFY(doc.flags & 0x2000);
        const Item* body = doc.find("text");
        QVERIFY(body && body->ok() && !body->storedWithSummary);
        QVERIFY(text(body->value).find("Here is the text of the document") != std::string::npos);
    }

    void damagedItemCountIsMended()
    {
        // A view of na_test.nsf whose header counts 8 items where 12 descriptors precede its
        // values: with 8, its values cannot add up to its non-summary record; with 12 they do,
        // and only with 12.
        const auto db = Database::open(samplePath("na_test.nsf"));
        const Note view = db->readNote(678);
        QCOMPARE(view.items.size(), std::size_t(12));
        QCOMPARE(view.warnings.size(), std::size_t(1));
        QVERIFY(view.warnings[0].find("gives 8 items; 12 descriptors") != std::string::npos);
        QCOMPARE(text(view.find("$TITLE")->value), std::string("($CrossCertByName)"));
        QCOMPARE(text(view.find("$TYPE")->value), std::string("$SUBVIEW"));
        QVERIFY(!view.find("$Signature")->storedWithSummary);
        QCOMPARE(view.failedItems(), std::size_t(0));
    }

    void aValueMayLackTheTypeWordItsFlagPromises()
    {
        // A profile document of attachment.nsf: its $UpdatedBy is flagged as having a type word
        // (flag 0x0008 clear) but starts with its entry count, 1, which would read as type 1,
        // rich text, and fail as such. Read as the text list its name says, it is exact.
        const auto db = Database::open(samplePath("attachment.nsf"));
        const Note profile = db->readNote(2310);
        const Item* updatedBy = profile.find("$UpdatedBy");
        QVERIFY(updatedBy && updatedBy->ok());
        QCOMPARE(updatedBy->flags, std::uint16_t(0x0044));
        QCOMPARE(updatedBy->type, std::uint16_t(kTypeTextList));
        QVERIFY(!updatedBy->typeWordStored);
        QCOMPARE(decodeTextList(updatedBy->value), std::vector<std::string>{"CN=tester/O=ibm"});

        // Where the stored word's type fits the value, it stands against the name's type: in
        // pg_doc.nsf the name table says text, the ACL note's stored word says text list.
        const Note acl = Database::open(samplePath("pg_doc.nsf"))->readNote(270);
        const Item* list = acl.find("$UpdatedBy");
        QVERIFY(list && list->ok());
        QCOMPARE(list->flags, std::uint16_t(0x0044));
        QVERIFY(list->typeWordStored);
        QCOMPARE(list->type, std::uint16_t(kTypeTextList));
        QCOMPARE(decodeTextList(list->value).size(), std::size_t(2));

        // A word that does not fit is not dropped for a type that fits anything: that word
        // changed to 1 (rich text) must not make the value text starting with the word.
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("pg_doc.nsf"));
        QVERIFY(QFile::copy(QString::fromStdString(samplePath("pg_doc.nsf")), copy));
        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(qint64(list->valueOffset) - 2));
        QVERIFY(file.write("\x01\x00", 2) == 2);
        file.close();
        const Note changed = Database::open(copy.toStdString())->readNote(270);
        QCOMPARE(changed.find("$UpdatedBy")->type, std::uint16_t(kTypeComposite));
    }

    void responsesNameTheirParents()
    {
        // A response's $REF holds its parent's UNID; its header holds the parent's note ID. Both
        // lead to the same note, except in one response of history.nsf where one byte of the
        // parent's UNID differs between the two copies.
        std::size_t responses = 0;
        for (const char* file : {"discuss.nsf", "ftsearch.nsf", "hierarch.nsf", "history.nsf",
                                 "makeview.nsf", "response.nsf"}) {
            const auto db = Database::open(samplePath(file));
            std::map<std::string, NoteId> byUnid;
            std::vector<Note> notes;
            for (NoteId id : db->noteIds()) {
                notes.push_back(db->readNote(id));
                byUnid[notes.back().unid.hex()] = id;
            }
            for (const Note& note : notes) {
                const Item* ref = note.find("$REF");
                if (!ref)
                    continue;
                ++responses;
                QVERIFY(ref->ok());
                QVERIFY(note.parentId != 0);
                const std::vector<Unid> parents = decodeNoteRefList(ref->value);
                QCOMPARE(parents.size(), std::size_t(1));
                if (std::string(file) == "history.nsf" && note.id == 8458) {
                    QCOMPARE(db->readNote(note.parentId).unid.hex(),
                             std::string("A1F03D8B3614BAEA85255F2A005460EB"));
                    QCOMPARE(parents[0].hex(), std::string("A1F03D8B3614BAE185255F2A005460EB"));
                    continue;
                }
                QCOMPARE(byUnid.at(parents[0].hex()), note.parentId);
            }
        }
        QCOMPARE(responses, std::size_t(20));
    }

    void attachmentsComeOutWhole()
    {
        // Every $FILE of the samples: stored or Huffman coded, each decoded to its recorded size
        // with a matching checksum (the stream checks both at its end).
        std::map<std::string, std::vector<std::uint8_t>> files;
        std::size_t compressed = 0;
        std::vector<std::string> failures;
        for (const SampleCount& s : kSamples) {
            const auto db = Database::open(samplePath(s.file));
            for (NoteId id : db->noteIds()) {
                const Note note = db->readNote(id);
                for (const Item* item : note.findAll("$FILE")) {
                    const FileObject file = decodeFileObject(item->value);
                    try {
                        std::vector<std::uint8_t> bytes = readObject(*db, file);
                        QCOMPARE(bytes.size(), std::size_t(file.size));
                        compressed += file.compression != 0;
                        files[std::string(s.file) + "/" + file.name] = std::move(bytes);
                    } catch (const FormatError& e) {
                        failures.push_back(std::string(s.file) + "/" + file.name + ": " + e.what());
                    }
                }
            }
        }
        QCOMPARE(files.size(), std::size_t(12));
        QCOMPARE(compressed, std::size_t(5));
        // One attachment records 749 bytes where its object holds 738 (the text looks whole);
        // it is named, not cut or padded.
        QCOMPARE(failures.size(), std::size_t(1));
        QVERIFY2(failures[0].find("MIMEMsg.nsf/mswin32.mak: object record at offset 0x41a00: holds "
                                  "738 bytes, the attachment records 749") == 0,
                 failures[0].c_str());

        const std::vector<std::uint8_t>& jpeg = files.at("MIMEMsg.nsf/Sample.jpg");
        QCOMPARE(jpeg.size(), std::size_t(9894));
        QCOMPARE(jpeg[0], std::uint8_t(0xFF));
        QCOMPARE(jpeg[1], std::uint8_t(0xD8));
        QCOMPARE(jpeg[jpeg.size() - 2], std::uint8_t(0xFF));
        QCOMPARE(jpeg.back(), std::uint8_t(0xD9));

        // A Huffman-coded bitmap: its own header states the file's size.
        const std::vector<std::uint8_t>& bmp = files.at("MIMEMsg.nsf/sampleBMP.bmp");
        QCOMPARE(text({bmp.begin(), bmp.begin() + 2}), std::string("BM"));
        QCOMPARE(le32(bmp, 2), std::uint32_t(bmp.size()));

        // Huffman-coded text: text, and the same text in both memos that carry it.
        for (const char* name : {"attachment.nsf/tms.log", "MIMEMsg.nsf/Plain.txt"}) {
            const std::vector<std::uint8_t>& t = files.at(name);
            QVERIFY2(std::all_of(t.begin(), t.end(),
                                 [](std::uint8_t c) {
                                     return c == '\r' || c == '\n' || c == '\t' ||
                                            (c >= 0x20 && c < 0x7F);
                                 }),
                     name);
        }
        QCOMPARE(files.at("MIMEMsg.nsf/Plain.txt"), files.at("MIMEMsg.nsf/New Text Document.txt"));
    }

    void objectErrorsAreNamed()
    {
        const auto db = Database::open(samplePath("MIMEMsg.nsf"));
        // A note's ID is not an object's; an ID that is nowhere; LZ1, not known yet.
        QVERIFY(failureOf([&] { db->openObject(2294); }).contains("is a note, not an object"));
        QVERIFY(failureOf([&] { db->openObject(4); }).contains("no object with ID 4"));
        QVERIFY(
            failureOf([&] { db->openObject(322, 2); }).contains("LZ1 compression is not known"));
        try {
            db->openObject(322, 2);
        } catch (const FormatError& e) {
            QCOMPARE(e.kind(), FailureKind::Unsupported);
        }
        const ObjectInfo jpeg = db->objectInfo(322);
        QCOMPARE(jpeg.signature, std::uint16_t(0x0007));
        QCOMPARE(jpeg.dataSize(), 9894u);
    }

    void folderDirectoryNamesTheFolder()
    {
        // billdrv.nsf has one folder, "My Favorites"; the superblock's folder directory lists it.
        const auto db = Database::open(samplePath("billdrv.nsf"));
        const std::vector<Unid> folders = db->folderDirectoryUnids();
        QCOMPARE(folders.size(), std::size_t(1));
        const Note folder = db->readNote(386);
        QCOMPARE(folder.unid, folders[0]);
        QCOMPARE(text(folder.find("$TITLE")->value), std::string("My Favorites|My Favorites"));
        QVERIFY(Database::open(samplePath("intro.nsf"))->folderDirectoryUnids().empty());
    }

    void deletionStubsKeepTheirIdentity()
    {
        // Records of 64 bytes: identity and class, no items.
        const auto db = Database::open(samplePath("idstore.nsf"));
        const Note stub = db->readNote(278);
        QVERIFY(stub.stub);
        QVERIFY(stub.items.empty());
        QCOMPARE(stub.noteClass, std::uint16_t(noteclass::kView | noteclass::kDefault));
        QCOMPARE(stub.recordSize, 64u);
    }
};

QTEST_GUILESS_MAIN(TestNsfDatabase)
#include "tst_nsfdatabase.moc"
