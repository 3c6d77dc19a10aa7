// Damaged copies of real databases: cut short, bytes changed at random and in the structures
// the reader relies on, sizes and counts set to the largest values. Whatever the damage, the
// reader gives FormatError or reads on; it never crashes, hangs or allocates what the file
// cannot hold (run under the address and undefined-behaviour sanitizers too).
#include "nsf/Database.h"
#include "nsf/ObjectItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <random>

using namespace tarvik::nsf;

namespace {

std::vector<std::uint8_t> readSample(const char* name)
{
    QFile file(QDir(QStringLiteral(TARVIK_NSF_SAMPLES)).filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// Everything a reader of the file would ask for. Returns how many things failed with
// FormatError; any other exception escapes and fails the test.
struct Outcome {
    bool opened = false;
    std::size_t notes = 0;
    std::size_t failures = 0;
};

void drainObject(const Database& db, const Item& item, Outcome& out)
{
    try {
        const FileObject file = decodeFileObject(item.value);
        auto stream = db.openObject(file.object.id, file.compression, file.size);
        std::uint8_t buffer[4096];
        std::uint64_t total = 0;
        while (const std::size_t n = stream->read(buffer))
            total += n;
        if (total != file.size)
            throw std::logic_error("an attachment stream ended short of its size unnoticed");
    } catch (const FormatError&) {
        ++out.failures;
    }
}

Outcome readEverything(std::shared_ptr<const ByteSource> source)
{
    Outcome out;
    std::unique_ptr<Database> db;
    try {
        db = std::make_unique<Database>(std::move(source));
    } catch (const FormatError&) {
        return out;
    }
    out.opened = true;
    out.failures += db->container().problems.size();
    for (NoteId id : db->noteIds()) {
        try {
            const Note note = db->readNote(id);
            ++out.notes;
            for (const Item& item : note.items) {
                if (!item.ok())
                    ++out.failures;
                else if (item.name == "$FILE" && item.type == kTypeObject)
                    drainObject(*db, item, out);
            }
        } catch (const FormatError&) {
            ++out.failures;
        }
    }
    try {
        db->dataNoteIds();
        db->folderDirectoryUnids();
    } catch (const FormatError&) {
        ++out.failures;
    }
    return out;
}

Outcome readCopy(const std::vector<std::uint8_t>& bytes)
{
    return readEverything(std::make_shared<MemorySource>(bytes));
}

// File offsets of the structures a sample's reading passes through.
std::vector<std::uint64_t> structureOffsets(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint64_t> out = {0, 2, 6, 0xB4, 0xC8, 0x148, 0x230, 0x270};
    const Database db(std::make_shared<MemorySource>(bytes));
    out.push_back(db.container().superblockOffset);
    out.push_back(db.container().bucketDescriptorOffset);
    for (const RrvEntry& e : db.relocationMap())
        if (!e.inBucket())
            out.push_back(std::uint64_t(e.first) * 256);
    for (NoteId id : db.noteIds()) {
        try {
            out.push_back(db.readNote(id).offset);
        } catch (const FormatError&) {
        }
    }
    return out;
}

const char* const kSamples[] = {"intro.nsf",        "MIMEMsg.nsf", "hierarch.nsf",
                                "majorversion.nsf", "nf_doc.nsf",  "attachment.nsf"};

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = std::uint8_t(v >> (8 * i));
}

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

} // namespace

class TestNsfDamage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void samplesReadWhole()
    {
        // The undamaged files, for comparison: everything reads but the known damaged notes.
        for (const char* name : kSamples) {
            const std::vector<std::uint8_t> bytes = readSample(name);
            QVERIFY2(!bytes.empty(), name);
            const Outcome whole = readCopy(bytes);
            QVERIFY(whole.opened);
            QVERIFY(whole.notes > 0);
            // MIMEMsg.nsf: one attachment's recorded size differs from its object's.
            QCOMPARE(whole.failures, std::size_t(std::string(name) == "MIMEMsg.nsf" ? 1 : 0));
        }
    }

    void cutShort()
    {
        for (const char* name : kSamples) {
            const std::vector<std::uint8_t> bytes = readSample(name);
            std::vector<std::uint64_t> cuts = structureOffsets(bytes);
            for (std::uint64_t at = 0; at < bytes.size(); at += 4093)
                cuts.push_back(at);
            for (std::uint64_t at : {1, 5, 0x2FF, 0x300, 0x401, 0x8000})
                cuts.push_back(at);
            std::size_t opened = 0;
            for (std::uint64_t base : cuts)
                for (std::uint64_t delta : {0, 1, 7, 100}) {
                    const std::uint64_t at = base + delta;
                    if (at >= bytes.size())
                        continue;
                    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + at);
                    opened += readCopy(cut).opened;
                }
            // Cut after its last structure, a file still opens; cut in its header, never.
            QVERIFY(opened > 0);
            QVERIFY(!readCopy({bytes.begin(), bytes.begin() + 0x2FF}).opened);
        }
    }

    void cutShortOnDisk()
    {
        // The same through real files in a temporary folder, read with pread.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::vector<std::uint8_t> bytes = readSample("MIMEMsg.nsf");
        std::size_t failures = 0;
        for (std::size_t at : {std::size_t(0), std::size_t(0x1000), bytes.size() / 3,
                               bytes.size() / 2, bytes.size() - 300}) {
            const std::string path = dir.filePath(QStringLiteral("cut.nsf")).toStdString();
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(at));
            try {
                const Outcome o = readEverything(std::make_shared<FileSource>(path));
                failures += o.failures + (o.opened ? 0 : 1);
            } catch (const FormatError&) {
                ++failures;
            }
        }
        QVERIFY(failures >= 5);
    }

    void bytesChanged()
    {
        std::mt19937 random(20261209);
        for (const char* name : kSamples) {
            const std::vector<std::uint8_t> bytes = readSample(name);
            const std::vector<std::uint64_t> structures = structureOffsets(bytes);
            std::size_t noticed = 0;
            for (int round = 0; round < 400; ++round) {
                std::vector<std::uint8_t> copy = bytes;
                const int changes = 1 + int(random() % 8);
                for (int c = 0; c < changes; ++c) {
                    // Half the changes land in or near a structure the reader uses, the rest
                    // anywhere (most of a file is values and free space).
                    std::uint64_t at;
                    if (random() % 2)
                        at = structures[random() % structures.size()] + random() % 128;
                    else
                        at = random() % copy.size();
                    if (at < copy.size())
                        copy[at] = std::uint8_t(random());
                }
                const Outcome o = readCopy(copy);
                noticed += (!o.opened || o.failures) ? 1 : 0;
            }
            QVERIFY2(noticed > 0, name);
        }
    }

    void largestSizesAndCounts()
    {
        // Every 16- and 32-bit field of the headers the reader relies on, set to the largest
        // value and to zero, one at a time: sizes, counts, positions.
        for (const char* name : {"intro.nsf", "MIMEMsg.nsf", "majorversion.nsf"}) {
            const std::vector<std::uint8_t> bytes = readSample(name);
            const Database db(std::make_shared<MemorySource>(bytes));
            std::vector<std::pair<std::uint64_t, std::size_t>> fields; // offset, extent
            fields.push_back({0, 0x300});
            fields.push_back({db.container().superblockOffset, 100});
            fields.push_back({db.container().bucketDescriptorOffset, 66});
            for (NoteId id : db.noteIds()) {
                const Note note = db.readNote(id);
                fields.push_back({note.offset, 100 + 8 * note.items.size()});
            }
            for (const RrvEntry& e : db.relocationMap())
                if (!e.inBucket())
                    fields.push_back({std::uint64_t(e.first) * 256, 40});
            std::vector<std::uint8_t> copy = bytes;
            for (const auto& [start, extent] : fields)
                for (std::size_t at = start; at + 4 <= start + extent && at + 4 <= bytes.size();
                     at += 2)
                    for (std::uint32_t value : {0xFFFFFFFFu, 0u, 0x0000FFFFu}) {
                        put32(copy, at, value);
                        readCopy(copy);
                        put32(copy, at, get32(bytes, at));
                    }
        }
    }

    void olderSuperblockWhenTheNewestIsDamaged()
    {
        // The newest superblock's checksum no longer matching its body (here the stored
        // checksum changed, so that nothing else gives it away): the older copy is read
        // instead, and the notes still are.
        std::vector<std::uint8_t> bytes = readSample("intro.nsf");
        const Database whole(std::make_shared<MemorySource>(bytes));
        const std::uint64_t newest = whole.container().superblockOffset;
        bytes[newest + get32(bytes, newest + 64) - 1] ^= 0x01;
        const Database older(std::make_shared<MemorySource>(bytes));
        QVERIFY(older.container().superblockOffset != newest);
        QVERIFY(older.container().superblockWriteCount < whole.container().superblockWriteCount);
        QVERIFY(!older.noteIds().empty());
        for (NoteId id : older.noteIds())
            older.readNote(id);

        // Both copies damaged: the file cannot be opened, and says why.
        bytes[older.container().superblockOffset + 100 + 50] ^= 0x01;
        try {
            Database none(std::make_shared<MemorySource>(bytes));
            QFAIL("opened without a superblock");
        } catch (const FormatError& e) {
            QVERIFY2(std::string(e.what()).find("superblock") == 0, e.what());
        }
    }

    void bucketListNamingOneBucketOverAndOver()
    {
        // A bucket descriptor block (stored uncompressed) whose RRV bucket list names the same
        // bucket 90 times: read once, the repeats reported, the map not multiplied. (More buckets
        // than the file has room for are refused outright.)
        std::vector<std::uint8_t> bytes = readSample("intro.nsf");
        const std::uint64_t bdb = std::uint64_t(get32(bytes, 0x270 + 4)) * 256;
        const std::uint32_t room = get32(bytes, 0x270);
        const std::uint32_t bucket = get32(bytes, 0x06 + 14); // the first non-data RRV bucket
        const std::uint32_t firstId = get32(bytes, std::uint64_t(bucket) * 256 + 6);
        std::vector<std::uint8_t> body;
        for (int i = 0; i < 90; ++i) {
            for (std::uint32_t v : {bucket | 1u, firstId})
                for (int k = 0; k < 4; ++k)
                    body.push_back(std::uint8_t(v >> (8 * k)));
        }
        body.insert(body.end(), 4, 0); // no item names, no name text
        QVERIFY(66 + body.size() <= room);
        std::vector<std::uint8_t> header(bytes.begin() + bdb, bytes.begin() + bdb + 66);
        header[4] = header[5] = 0;                          // stored as it is
        put32(header, 6, std::uint32_t(body.size()));       // expanded size
        put32(header, 10, 0x7FFFFFFF);                      // the newest copy
        put32(header, 14, std::uint32_t(66 + body.size())); // stored size
        put32(header, 26, 0);                               // names
        put32(header, 34, 0);                               // name text
        put32(header, 38, 90);                              // RRV buckets
        std::uint32_t check = 0;
        for (std::size_t i = 0; i < 54; i += 4)
            check ^= i + 4 <= 54 ? get32(header, i) : std::uint32_t(header[i] | header[i + 1] << 8);
        put32(header, 54, check);
        std::copy(header.begin(), header.end(), bytes.begin() + bdb);
        std::copy(body.begin(), body.end(), bytes.begin() + bdb + 66);

        const Database db(std::make_shared<MemorySource>(bytes));
        QCOMPARE(db.container().bucketDescriptorOffset, bdb);
        QCOMPARE(db.container().problems.size(), std::size_t(89));
        QVERIFY(std::string(db.container().problems[0].what()).find("twice") != std::string::npos);
        QVERIFY(db.relocationMap().size() < 508);
        // Without names every item says so; the notes themselves still read.
        for (NoteId id : db.noteIds()) {
            const Note note = db.readNote(id);
            for (const Item& item : note.items)
                QVERIFY(!item.ok());
        }
    }

    void objectRecordsLie()
    {
        // An attachment's object record claiming more than the file, or less than its header.
        std::vector<std::uint8_t> bytes = readSample("MIMEMsg.nsf");
        const Database db(std::make_shared<MemorySource>(bytes));
        const std::uint64_t bitmap = db.objectInfo(326).offset; // the Huffman-coded bitmap
        for (std::uint32_t size : {0xFFFFFFFFu, 4u, 22u, 28u, 300u}) {
            std::vector<std::uint8_t> copy = bytes;
            put32(copy, bitmap + 2, size);
            const Database damaged(std::make_shared<MemorySource>(copy));
            QVERIFY_THROWS_EXCEPTION(FormatError, [&] {
                auto stream = damaged.openObject(326, 1, 296406);
                std::uint8_t buffer[4096];
                while (stream->read(buffer)) {
                }
            }());
        }
        // Its code bits changed: the checksum or the size no longer match.
        std::vector<std::uint8_t> copy = bytes;
        copy[bitmap + 22 + 6 + get32(bytes, bitmap + 22 + 4) % 0x10000 + 500] ^= 0x10;
        const Database damaged(std::make_shared<MemorySource>(copy));
        QVERIFY_THROWS_EXCEPTION(FormatError, [&] {
            auto stream = damaged.openObject(326, 1, 296406);
            std::uint8_t buffer[4096];
            while (stream->read(buffer)) {
            }
        }());
    }
};

QTEST_GUILESS_MAIN(TestNsfDamage)
#include "tst_nsfdamage.moc"
