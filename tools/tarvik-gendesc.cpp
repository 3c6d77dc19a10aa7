// tarvik-gendesc: writes store descriptions of any size for benchmarks and tests,
// deterministic from a seed.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace {

const char usage[] =
    "Usage: tarvik-gendesc [options] OUTPUT.json\n"
    "Writes a store description of made-up mail (OUTPUT \"-\" writes to standard output).\n"
    "\n"
    "  --documents N         number of mail documents (default 1000)\n"
    "  --folders F           user folders besides the six standard views (default 10;\n"
    "                        every fourth is a sub-folder of the one before)\n"
    "  --attachments P       percent of documents with an attachment (default 10)\n"
    "  --attachment-size B   bytes per attachment (default 65536)\n"
    "  --body-min B          smallest body text in bytes (default 200)\n"
    "  --body-max B          largest body text in bytes (default 4000)\n"
    "  --seed S              seed of the made-up content (default 1)\n"
    "  --largest-folder N    the first user folder holds exactly the first N documents;\n"
    "                        the others are spread over the remaining views (default 0:\n"
    "                        every document is spread)\n";

// splitmix64: the same numbers on every platform and compiler.
class Random {
public:
    explicit Random(quint64 seed) : m_state(seed) {}
    quint64 next()
    {
        quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // A number in [0, n).
    qint64 below(qint64 n) { return n <= 0 ? 0 : qint64(next() % quint64(n)); }
    qint64 between(qint64 lo, qint64 hi) { return lo + below(hi - lo + 1); }

private:
    quint64 m_state;
};

struct Options {
    qint64 documents = 1000;
    qint64 folders = 10;
    qint64 attachmentPercent = 10;
    qint64 attachmentSize = 65536;
    qint64 bodyMin = 200;
    qint64 bodyMax = 4000;
    quint64 seed = 1;
    qint64 largestFolder = 0;
    QString output;
};

const char* const words[] = {
    "budget", "report",   "meeting", "sensor",  "schedule", "review", "draft",   "figures",
    "please", "attached", "thanks",  "project", "results",  "Grüße",  "München", "季度",
    "报告",   "customer", "invoice", "travel",  "the",      "a",      "of",      "and",
    "for",    "we",       "will",    "next",    "week",     "March",  "quarter", "🎉"};
constexpr int wordCount = int(sizeof(words) / sizeof(words[0]));

struct Person {
    const char* notesName;
    const char* internet;
};
const Person people[] = {
    {"CN=Mira Kestrel/OU=Research/O=Halvard", "mira.kestrel@halvard-labs.example"},
    {"CN=Jonas Brandt/OU=Sales/O=Halvard", "jonas.brandt@halvard-labs.example"},
    {"CN=Li Wei/OU=Shanghai/O=Halvard", "li.wei@halvard-labs.example"},
    {"CN=Ana Ferreira/O=Halvard", "ana.ferreira@halvard-labs.example"},
    {"CN=Archive Robot/O=Halvard", "."},
    {"greta.mueller@example.de", "greta.mueller@example.de"},
    {"p.holm@example.org", "p.holm@example.org"},
};
constexpr int personCount = int(sizeof(people) / sizeof(people[0]));

// Buffers the output and writes it in large pieces.
class Writer {
public:
    explicit Writer(QFile& file) : m_file(file) { m_buffer.reserve(1 << 20); }
    ~Writer() { flush(); }
    Writer& operator<<(const char* text)
    {
        m_buffer.append(text);
        return spill();
    }
    Writer& operator<<(const QByteArray& text)
    {
        m_buffer.append(text);
        return spill();
    }
    Writer& operator<<(qint64 n)
    {
        m_buffer.append(QByteArray::number(n));
        return spill();
    }
    // A JSON string, its quotes, backslashes and control characters escaped.
    Writer& string(const QByteArray& text)
    {
        m_buffer.append('"');
        for (char c : text) {
            if (c == '"' || c == '\\') {
                m_buffer.append('\\');
                m_buffer.append(c);
            } else if (c == '\n') {
                m_buffer.append("\\n");
            } else if (static_cast<unsigned char>(c) < 0x20) {
                m_buffer.append("\\u00");
                m_buffer.append(
                    QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0'));
            } else {
                m_buffer.append(c);
            }
        }
        m_buffer.append('"');
        return spill();
    }
    bool flush()
    {
        const bool ok = m_file.write(m_buffer) == m_buffer.size();
        m_buffer.clear();
        m_ok = m_ok && ok;
        return m_ok;
    }
    bool ok() const { return m_ok; }

private:
    Writer& spill()
    {
        if (m_buffer.size() >= (1 << 20))
            flush();
        return *this;
    }
    QFile& m_file;
    QByteArray m_buffer;
    bool m_ok = true;
};

QByteArray sentence(Random& rnd, qint64 bytes)
{
    QByteArray text;
    qint64 sinceBreak = 0;
    while (text.size() < bytes) {
        const char* w = words[rnd.below(wordCount)];
        if (!text.isEmpty())
            text.append(sinceBreak > 300 && rnd.below(4) == 0 ? "\n\n" : " ");
        if (text.endsWith('\n'))
            sinceBreak = 0;
        text.append(w);
        sinceBreak += qint64(std::strlen(w)) + 1;
    }
    return text;
}

QByteArray dateText(Random& rnd)
{
    // A time in 2008 in winter or summer time of central Europe.
    const int month = int(rnd.between(1, 12));
    const int day = int(rnd.between(1, 28));
    const bool summer = month >= 4 && month <= 9;
    char buf[40];
    std::snprintf(buf, sizeof buf, "2008-%02d-%02dT%02d:%02d:%02d%s", month, day,
                  int(rnd.between(0, 23)), int(rnd.between(0, 59)), int(rnd.between(0, 59)),
                  summer ? "+02:00" : "+01:00");
    return buf;
}

void item(Writer& out, const char* name, const char* type, const QList<QByteArray>& values,
          bool last = false)
{
    out << "{\"name\": \"" << name << "\", \"type\": \"" << type << "\", \"values\": [";
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i)
            out << ", ";
        out.string(values[i]);
    }
    out << (last ? "]}" : "]}, ");
}

void addresses(Random& rnd, QList<QByteArray>& notes, QList<QByteArray>& internet, int count)
{
    for (int i = 0; i < count; ++i) {
        const Person& p = people[rnd.below(personCount)];
        notes.append(p.notesName);
        internet.append(p.internet);
    }
}

bool generate(const Options& o, QFile& file)
{
    Random rnd(o.seed);
    const QList<QByteArray> standard = {"($Inbox)", "($Sent)",      "($Drafts)",
                                        "($Trash)", "($Follow-Up)", "($JunkMail)"};
    QList<QByteArray> folderNames;
    for (qint64 f = 0; f < o.folders; ++f) {
        QByteArray name = "Folder " + QByteArray::number(f + 1);
        if (f % 4 == 3)
            name = folderNames[f - 1] + "\\Sub " + QByteArray::number(f + 1);
        folderNames.append(name);
    }
    // Which view each document stands in: most in the inbox, sent items and user folders.
    QList<QList<qint64>> members(standard.size() + folderNames.size());
    // With a largest folder, the first user folder takes its documents and no others.
    const qsizetype spreadFolders = folderNames.size() - (o.largestFolder > 0 ? 1 : 0);
    const qsizetype firstSpreadFolder = standard.size() + (o.largestFolder > 0 ? 1 : 0);
    for (qint64 d = 0; d < o.documents; ++d) {
        if (d < o.largestFolder) {
            members[standard.size()].append(d);
            continue;
        }
        const qint64 r = rnd.below(100);
        qsizetype view;
        if (r < 40 || (spreadFolders == 0 && r >= 65))
            view = 0;
        else if (r < 55)
            view = 1;
        else if (r < 58)
            view = 2;
        else if (r < 63)
            view = 3;
        else if (r < 65)
            view = 5;
        else
            view = firstSpreadFolder + rnd.below(spreadFolders);
        members[view].append(d);
        if (view == 0 && rnd.below(50) == 0)
            members[4].append(d);
    }

    Writer out(file);
    out << "{\"format\": 1, \"title\": \"Generated Mail (" << o.documents
        << " documents)\",\n\"views\": [\n";
    auto writeView = [&](const QByteArray& name, bool folder, const QList<qint64>& docs,
                         bool last) {
        out << "{\"name\": ";
        out.string(name);
        out << ", \"folder\": " << (folder ? "true" : "false") << ", \"documents\": [";
        for (qsizetype i = 0; i < docs.size(); ++i)
            out << (i ? ",\"d" : "\"d") << docs[i] << "\"";
        out << (last ? "]}\n" : "]},\n");
    };
    for (qsizetype v = 0; v < members.size(); ++v)
        writeView(v < standard.size() ? standard[v] : folderNames[v - standard.size()], true,
                  members[v], false);
    QList<qint64> all(o.documents);
    std::iota(all.begin(), all.end(), 0);
    writeView("($All)", false, all, true);
    out << "],\n\"documents\": [\n";

    const QByteArray pattern = "attachment content 0123456789 abcdefghijklmnopqrstuvwxyz ====\n";
    for (qint64 d = 0; d < o.documents; ++d) {
        QList<QByteArray> to, inetTo, cc, inetCc, bcc, inetBcc;
        addresses(rnd, to, inetTo, int(rnd.between(1, 4)));
        const bool hasCc = rnd.below(3) == 0, hasBcc = rnd.below(8) == 0;
        if (hasCc)
            addresses(rnd, cc, inetCc, int(rnd.between(1, 3)));
        if (hasBcc)
            addresses(rnd, bcc, inetBcc, int(rnd.between(1, 2)));
        const Person& from = people[rnd.below(personCount)];
        out << "{\"id\": \"d" << d << "\", \"items\": [";
        item(out, "Form", "text", {"Memo"});
        item(out, "Subject", "text", {sentence(rnd, rnd.between(10, 60))});
        item(out, "From", "names", {from.notesName});
        item(out, "INetFrom", "text", {from.internet});
        item(out, "SendTo", "names", to);
        item(out, "InetSendTo", "text", inetTo);
        if (hasCc) {
            item(out, "CopyTo", "names", cc);
            item(out, "InetCopyTo", "text", inetCc);
        }
        if (hasBcc) {
            item(out, "BlindCopyTo", "names", bcc);
            item(out, "InetBlindCopyTo", "text", inetBcc);
        }
        item(out, "PostedDate", "datetime", {dateText(rnd)});
        item(out, "DeliveredDate", "datetime", {dateText(rnd)});
        item(out, "$Revisions", "datetime", {dateText(rnd), dateText(rnd)});
        out << "{\"name\": \"Body\", \"type\": \"richtext\", \"values\": [";
        out.string(sentence(rnd, rnd.between(o.bodyMin, std::max(o.bodyMin, o.bodyMax))));
        out << "]";
        if (rnd.below(100) < o.attachmentPercent) {
            const qint64 repeat = std::max<qint64>(1, o.attachmentSize / pattern.size());
            out << ", \"embedded\": [{\"name\": \"file-" << d << ".dat\", \"type\": 1454, "
                << "\"content_text\": ";
            out.string(pattern);
            out << ", \"repeat\": " << repeat << "}]";
        }
        out << (d + 1 < o.documents ? "}]},\n" : "}]}\n");
    }
    out << "]}\n";
    return out.flush();
}

bool number(const char* text, qint64 min, qint64& value)
{
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (!end || *end || end == text || v < min)
        return false;
    value = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        qint64* target = arg == "--documents"         ? &o.documents
                         : arg == "--folders"         ? &o.folders
                         : arg == "--attachments"     ? &o.attachmentPercent
                         : arg == "--attachment-size" ? &o.attachmentSize
                         : arg == "--body-min"        ? &o.bodyMin
                         : arg == "--body-max"        ? &o.bodyMax
                         : arg == "--largest-folder"  ? &o.largestFolder
                                                      : nullptr;
        qint64 seed = 0;
        if ((target || arg == "--seed") && i + 1 < argc) {
            if (!number(argv[++i], 0, target ? *target : seed)) {
                std::fprintf(stderr, "tarvik-gendesc: %s needs a whole number of 0 or more\n",
                             arg.constData());
                return 2;
            }
            if (!target)
                o.seed = quint64(seed);
        } else if (o.output.isEmpty() && !arg.startsWith("--")) {
            o.output = QFile::decodeName(arg);
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (o.output.isEmpty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (o.largestFolder > 0 && (o.folders < 1 || o.largestFolder > o.documents)) {
        std::fputs("tarvik-gendesc: --largest-folder needs at least one user folder and no more "
                   "than --documents\n",
                   stderr);
        return 2;
    }
    QFile file;
    const bool opened = o.output == QLatin1String("-")
                            ? file.open(stdout, QIODevice::WriteOnly)
                            : (file.setFileName(o.output), file.open(QIODevice::WriteOnly));
    if (!opened || !generate(o, file) || !file.flush()) {
        std::fprintf(stderr, "tarvik-gendesc: cannot write %s: %s\n",
                     QFile::encodeName(o.output).constData(),
                     file.errorString().toLocal8Bit().constData());
        return 2;
    }
    return 0;
}
