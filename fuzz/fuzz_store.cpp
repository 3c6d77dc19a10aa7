// Damaged store files: a store built at start-up with bytes changed at chosen
// places (or a whole store file given as it is) is opened and read completely
// through the back-end. Only OperationError may come out, nothing may hang,
// and a failed extraction leaves no file.

#include "FuzzSupport.h"
#include "StoreWalk.h"
#include "base/OperationError.h"
#include "notes/builder/StoreBuilder.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>

using namespace tarvik;
using namespace tarvik::fuzz;

namespace {

// Every kind of view, item and object the back-end reads, one object larger
// than the back-end reads in one piece, and the damage a description can
// state (an unreadable item and object).
QByteArray baseDescription()
{
    const QByteArray big = QByteArray("0123456789abcdef").repeated(70000);
    return R"json({ "format": 1, "title": "Fuzz - Mail",
  "views": [
    { "name": "($Inbox)", "folder": true, "documents": ["a", "b", "c"] },
    { "name": "($Sent)", "folder": true, "documents": ["b"] },
    { "name": "($Trash)", "folder": true, "documents": ["c", "a"] },
    { "name": "Projects\\2008", "folder": true, "documents": ["a", "c"] },
    { "name": "($All)", "folder": false, "documents": ["a", "b", "c"] }
  ],
  "documents": [
    { "id": "a", "items": [
      { "name": "Subject", "type": "text", "values": ["Budget 2008"] },
      { "name": "From", "type": "names", "values": ["CN=Ann Example/O=Acme"] },
      { "name": "INetFrom", "type": "text", "values": ["ann@example.com"] },
      { "name": "SendTo", "type": "names", "values": ["CN=Bob/O=Acme", "carl@example.org", "CN=Dee/O=Acme"] },
      { "name": "InetSendTo", "type": "text", "values": ["bob@example.com", ".", "dee@example.com"] },
      { "name": "PostedDate", "type": "datetime", "values": ["2008-03-14T10:32:05+01:00", "1901-12-13T20:45:52Z"] },
      { "name": "Count", "type": "number", "values": [3, 2.5, -0.125, 1e21] },
      { "name": "Body", "type": "richtext", "values": ["Hello Bob,\nthe figures are attached.\n"],
        "embedded": [
          { "name": "figures.xls", "type": 1454, "content_base64": "UEsDBBQAAAAIAA==" },
          { "name": "Chart", "type": 1453, "content_text": "ole object bytes" },
          { "name": "many.txt", "content_text": "abc", "repeat": 5000 },
          { "name": "broken.bin", "content_text": "x", "unreadable": true } ] } ] },
    { "id": "b", "size": 2560, "items": [
      { "name": "Subject", "type": "text", "values": ["  Re: Budget?  "] },
      { "name": "Body", "type": "text", "values": ["plain body"], "unreadable": true } ],
      "attachments": [ { "name": "notes.txt", "content_text": "x", "repeat": 4096 } ] },
    { "id": "c", "items": [
      { "name": "Subject", "type": "text", "values": [] },
      { "name": "Body", "type": "richtext", "values": ["big"],
        "embedded": [ { "name": "big.bin", "content_text": ")json" +
           big + R"json(" } ] } ] }
  ] })json";
}

const QByteArray& base()
{
    static const QByteArray b = [] {
        const QString path = Scratch::instance().path() + QStringLiteral("/base.nsf");
        const notes::StoreBuildResult r = notes::StoreBuilder::build(
            baseDescription(), path, notes::StoreBuilder::Existing::Replace);
        QFile f(path);
        if (!r.ok() || !f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "fuzz_store: the base store cannot be built: %s\n",
                         qPrintable(r.faults.join(u'\n')));
            std::abort();
        }
        return f.readAll();
    }();
    return b;
}

// Changes to the base store: records of a 3-byte offset (little-endian,
// taken modulo the store's size), a length byte and that many bytes.
QByteArray patched(const std::uint8_t* data, std::size_t size)
{
    QByteArray store = base();
    std::size_t i = 0;
    while (i + 4 <= size) {
        const std::size_t offset =
            (data[i] | (std::size_t(data[i + 1]) << 8) | (std::size_t(data[i + 2]) << 16)) %
            std::size_t(store.size());
        const std::size_t length = std::min<std::size_t>(data[i + 3], size - i - 4);
        for (std::size_t k = 0; k < length && offset + k < std::size_t(store.size()); ++k)
            store[qsizetype(offset + k)] = char(data[i + 4 + k]);
        i += 4 + length;
    }
    return store;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    limitFileSize(16 << 20);
    base();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Scratch& scratch = Scratch::instance();
    base();
    scratch.reset();
    static const QByteArray wholeStore("SQLite format 3\0", 16);
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray store = input.startsWith(wholeStore) ? input : patched(data, size);

    QDir().mkpath(scratch.path() + QStringLiteral("/objects"));
    const QString path = scratch.path() + QStringLiteral("/store.nsf");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(store) != store.size())
        return 0;
    f.close();
    walkStore(path, scratch.path() + QStringLiteral("/objects"));
    return 0;
}
