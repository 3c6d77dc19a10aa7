#include "notes/capi/NotesRuntime.h"

#include "base/OperationError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace tarvik::notes::capi {

namespace {

// Pieces of text translated in one OSTranslate call: its lengths are WORDs, and a piece
// at most doubles in size (one LMBCS byte of group 1 becomes two bytes of UTF-8, three
// bytes of a UTF-16 character at most three, two such characters four).
constexpr std::size_t translatePiece = 16000;
constexpr WORD translateBuffer = 0xFFFF;

std::recursive_mutex& startMutex()
{
    static std::recursive_mutex m;
    return m;
}

// The runtimes of this process by library path: a second start of the same library gets
// the first's runtime, so Notes is never started twice at once.
QHash<QString, std::weak_ptr<NotesRuntime>>& runningRuntimes()
{
    static QHash<QString, std::weak_ptr<NotesRuntime>> runtimes;
    return runtimes;
}

QString statusNumber(STATUS status)
{
    return QStringLiteral("Notes error 0x%1").arg(status, 4, 16, QLatin1Char('0'));
}

// Overwrites a buffer that held a password before it is released.
void wipe(QByteArray& bytes)
{
    volatile char* p = bytes.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        p[i] = 0;
    bytes.clear();
}

// The library in folder, or an empty string.
QString libraryIn(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    const QFileInfo file(QDir(folder).filePath(notesLibraryFileName()));
    return file.isFile() ? file.absoluteFilePath() : QString();
}

} // namespace

// The runtimes that the current thread was set up for, ended when the thread ends.
struct ThreadRegistrations {
    std::vector<std::shared_ptr<NotesRuntime>> runtimes;

    ~ThreadRegistrations()
    {
        for (const std::shared_ptr<NotesRuntime>& runtime : runtimes) {
            if (runtime->m_initialised)
                runtime->m_api.NotesTermThread();
        }
    }
};

namespace {
thread_local ThreadRegistrations t_registrations;
} // namespace

QString notesLibraryFileName()
{
#if defined(_WIN32)
    return QStringLiteral("nnotes.dll");
#else
    return sharedLibraryFileName(QStringLiteral("notes"));
#endif
}

QStringList notesProgramFolders()
{
    QStringList folders;
    const QString exec = qEnvironmentVariable("Notes_ExecDirectory");
    if (!exec.isEmpty())
        folders.append(exec);
#if defined(_WIN32)
    const QStringList roots = {qEnvironmentVariable("ProgramFiles"),
                               qEnvironmentVariable("ProgramFiles(x86)")};
    const QStringList products = {
        QStringLiteral("HCL\\Notes"),   QStringLiteral("HCL\\Domino"),
        QStringLiteral("IBM\\Notes"),   QStringLiteral("IBM\\Lotus\\Notes"),
        QStringLiteral("IBM\\Domino"),  QStringLiteral("Lotus\\Notes"),
        QStringLiteral("Lotus\\Domino")};
    for (const QString& root : roots) {
        if (root.isEmpty())
            continue;
        for (const QString& product : products)
            folders.append(root + QLatin1Char('\\') + product);
    }
#elif defined(__APPLE__)
    for (const char* app : {"HCL Notes.app", "IBM Notes.app", "Lotus Notes.app", "Notes.app"})
        folders.append(QStringLiteral("/Applications/") + QLatin1String(app) +
                       QStringLiteral("/Contents/MacOS"));
#else
    folders << QStringLiteral("/opt/hcl/domino/notes/latest/linux")
            << QStringLiteral("/opt/ibm/domino/notes/latest/linux")
            << QStringLiteral("/opt/lotus/notes/latest/linux") << QStringLiteral("/opt/hcl/notes")
            << QStringLiteral("/opt/ibm/notes") << QStringLiteral("/opt/ibm/lotus/notes");
#endif
    return folders;
}

std::vector<std::size_t> lmbcsPieces(const char* data, std::size_t length, std::size_t maxBytes)
{
    std::vector<std::size_t> starts{0};
    maxBytes = std::max<std::size_t>(maxBytes, 3);
    std::size_t pieceStart = 0;
    std::size_t i = 0;
    while (i < length) {
        const auto b = static_cast<unsigned char>(data[i]);
        // A group byte (below 0x20, but not NUL, tab, line feed or carriage return) takes
        // one byte after it, or two for the groups from 0x10 on.
        std::size_t n = 1;
        if (b < 0x20 && b != 0 && b != '\t' && b != '\n' && b != '\r')
            n = b >= 0x10 ? 3 : 2;
        if (i + n - pieceStart > maxBytes) {
            starts.push_back(i);
            pieceStart = i;
        }
        i += n;
    }
    return starts;
}

std::shared_ptr<NotesRuntime> NotesRuntime::start(const NotesApiSettings& settings)
{
    const std::lock_guard<std::recursive_mutex> lock(startMutex());
    QString path;
    if (!settings.programFolder.isEmpty()) {
        path = libraryIn(settings.programFolder);
        if (path.isEmpty())
            throw OperationError(
                QStringLiteral("The Notes program folder %1 holds no %2: give the folder of an "
                               "installed Notes client or Domino server that holds it")
                    .arg(QDir::toNativeSeparators(settings.programFolder), notesLibraryFileName()));
    } else {
        const QStringList folders = notesProgramFolders();
        for (const QString& folder : folders) {
            path = libraryIn(folder);
            if (!path.isEmpty())
                break;
        }
        if (path.isEmpty())
            throw OperationError(
                QStringLiteral("No Notes client or Domino server was found: none of these "
                               "folders holds %1: %2. Give the installation's program folder.")
                    .arg(notesLibraryFileName(), folders.join(QStringLiteral(", "))));
    }

    if (const auto running = runningRuntimes().value(path).lock()) {
        if (!settings.notesIni.isEmpty() && QFileInfo(settings.notesIni).absoluteFilePath() !=
                                                QFileInfo(running->m_notesIni).absoluteFilePath())
            throw OperationError(QStringLiteral("Notes is already started in this program with "
                                                "another notes.ini (%1)")
                                     .arg(running->m_notesIni.isEmpty()
                                              ? QStringLiteral("the installation's own")
                                              : running->m_notesIni));
        return running;
    }

    std::shared_ptr<NotesRuntime> runtime(new NotesRuntime());
    runtime->m_programFolder = QFileInfo(path).absolutePath();
    QString why;
    runtime->m_library = LoadedLibrary::load(path, &why);
    if (!runtime->m_library)
        throw OperationError(
            QStringLiteral("The Notes library %1 cannot be loaded: %2").arg(path, why));
    runtime->resolveEntryPoints();
    runtime->initialise(settings);
    runningRuntimes().insert(path, runtime);
    return runtime;
}

void NotesRuntime::resolveEntryPoints()
{
    QStringList missing;
    std::size_t index = 0;
#define TARVIK_NOTES_RESOLVE(name, result, params)                                                 \
    m_api.name = reinterpret_cast<decltype(m_api.name)>(m_library.symbol(#name));                  \
    if (!m_api.name)                                                                               \
        missing.append(QLatin1String(entryPointNames[index]));                                     \
    ++index;
    TARVIK_NOTES_ENTRY_POINTS(TARVIK_NOTES_RESOLVE)
    TARVIK_NOTES_PLAIN_ENTRY_POINTS(TARVIK_NOTES_RESOLVE)
#undef TARVIK_NOTES_RESOLVE
    if (!missing.isEmpty())
        throw OperationError(
            QStringLiteral("%1 is not a Notes C API library this program can use: it lacks %2 %3")
                .arg(m_library.path(),
                     missing.size() == 1 ? QStringLiteral("the entry point")
                                         : QStringLiteral("the entry points"),
                     missing.join(QStringLiteral(", "))));
}

void NotesRuntime::initialise(const NotesApiSettings& settings)
{
    // Notes finds its program folder from argv[0]; a notes.ini to use is an argument of
    // its own, after an "=".
    QByteArray program =
        QFile::encodeName(QDir(m_programFolder).filePath(QStringLiteral("tarvik")));
    QByteArray ini;
    std::vector<char*> argv{program.data()};
    if (!settings.notesIni.isEmpty()) {
        const QFileInfo file(settings.notesIni);
        if (!file.isFile())
            throw OperationError(
                QStringLiteral("The notes.ini %1 does not exist").arg(settings.notesIni));
        m_notesIni = file.absoluteFilePath();
        ini = QByteArray("=") + QFile::encodeName(QDir::toNativeSeparators(m_notesIni));
        argv.push_back(ini.data());
    }
    argv.push_back(nullptr);
    if (qEnvironmentVariableIsEmpty("Notes_ExecDirectory"))
        qputenv("Notes_ExecDirectory", QFile::encodeName(m_programFolder));

    const STATUS status = m_api.NotesInitExtended(int(argv.size() - 1), argv.data());
    if (status != NOERROR) {
        // Nothing else of Notes may be called now, its error texts included.
        m_library.keepLoaded();
        throw NotesNotStarted(
            QStringLiteral("Notes could not be started from %1 (%2): check that the notes.ini "
                           "%3 exists and names the data directory, and that this account may "
                           "use the installation")
                .arg(m_programFolder, statusNumber(status),
                     m_notesIni.isEmpty() ? QStringLiteral("of the installation") : m_notesIni));
    }
    m_initialised = true;
    m_initThread = std::this_thread::get_id();
}

NotesRuntime::~NotesRuntime()
{
    if (m_initialised) {
        m_api.NotesTerm();
        // Notes keeps exit handlers and thread data of its own: its code stays in the process.
        m_library.keepLoaded();
        const std::lock_guard<std::recursive_mutex> lock(startMutex());
        auto& running = runningRuntimes();
        const auto it = running.constFind(m_library.path());
        if (it != running.cend() && it->expired())
            running.erase(it);
    }
}

const EntryPoints& NotesRuntime::api()
{
    if (std::this_thread::get_id() != m_initThread)
        registerThread();
    return m_api;
}

void NotesRuntime::registerThread()
{
    for (const std::shared_ptr<NotesRuntime>& runtime : t_registrations.runtimes) {
        if (runtime.get() == this)
            return;
    }
    const STATUS status = m_api.NotesInitThread();
    // Not even Notes' error texts may be asked for from a thread it refused.
    if (status != NOERROR)
        throw OperationError(QStringLiteral("Notes cannot be used from this thread (%1)")
                                 .arg(statusNumber(status & ERR_MASK)));
    t_registrations.runtimes.push_back(shared_from_this());
}

QString NotesRuntime::errorText(STATUS status)
{
    const STATUS code = status & ERR_MASK;
    if (!m_initialised)
        return statusNumber(code);
    char buffer[512] = {};
    WORD n = 0;
    try {
        n = api().OSLoadString(nullptr, code, buffer, WORD(sizeof buffer - 1));
    } catch (const OperationError&) {
        n = 0;
    }
    n = std::min<WORD>(n, sizeof buffer - 1);
    QString text;
    if (n > 0) {
        try {
            text = fromLmbcs(buffer, qstrnlen(buffer, n)).trimmed();
        } catch (const OperationError&) {
            text = QString::fromLatin1(buffer, int(qstrnlen(buffer, n))).trimmed();
        }
    }
    if (text.isEmpty())
        return statusNumber(code);
    return text + QStringLiteral(" (") + statusNumber(code) + QLatin1Char(')');
}

void NotesRuntime::check(STATUS status, const QString& what)
{
    if (status != NOERROR)
        throw OperationError(what + QStringLiteral(": ") + errorText(status));
}

QString NotesRuntime::fromLmbcs(const char* data, std::size_t length)
{
    const EntryPoints& notes = api();
    QByteArray utf8;
    QByteArray out(translateBuffer, Qt::Uninitialized);
    std::size_t segment = 0;
    while (segment <= length) {
        // A NUL is a line break: each line is translated alone.
        const void* nul =
            segment < length ? std::memchr(data + segment, 0, length - segment) : nullptr;
        const std::size_t end = nul ? std::size_t(static_cast<const char*>(nul) - data) : length;
        const char* line = data + segment;
        const std::size_t lineLength = end - segment;
        const std::vector<std::size_t> starts = lmbcsPieces(line, lineLength, translatePiece);
        for (std::size_t p = 0; p < starts.size() && lineLength > 0; ++p) {
            const std::size_t from = starts[p];
            const std::size_t to = p + 1 < starts.size() ? starts[p + 1] : lineLength;
            const WORD n = notes.OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, line + from,
                                             WORD(to - from), out.data(), translateBuffer);
            if (n == 0 || n > translateBuffer)
                throw OperationError(
                    QStringLiteral("Notes could not translate a text of %1 bytes").arg(to - from));
            utf8.append(out.constData(), n);
        }
        if (!nul)
            break;
        utf8.append('\n');
        segment = end + 1;
    }
    return QString::fromUtf8(utf8);
}

QByteArray NotesRuntime::toLmbcs(const QString& text)
{
    const EntryPoints& notes = api();
    const QByteArray utf8 = text.toUtf8();
    QByteArray lmbcs;
    QByteArray out(translateBuffer, Qt::Uninitialized);
    qsizetype from = 0;
    while (from < utf8.size()) {
        qsizetype to = std::min<qsizetype>(utf8.size(), from + qsizetype(translatePiece));
        // Never between the bytes of one character: continuation bytes are 10xxxxxx.
        while (to < utf8.size() && to > from && (uchar(utf8[to]) & 0xC0) == 0x80)
            --to;
        const WORD n = notes.OSTranslate(OS_TRANSLATE_UTF8_TO_LMBCS, utf8.constData() + from,
                                         WORD(to - from), out.data(), translateBuffer);
        if (n == 0 || n > translateBuffer)
            throw OperationError(
                QStringLiteral("Notes could not translate the text \"%1\"").arg(text));
        lmbcs.append(out.constData(), n);
        from = to;
    }
    return lmbcs;
}

QString NotesRuntime::environmentString(const char* name)
{
    char value[MAXPATH + 1] = {};
    if (!api().OSGetEnvironmentString(name, value, MAXPATH))
        return {};
    return fromLmbcs(value, qstrnlen(value, MAXPATH));
}

void NotesRuntime::useId(const NotesApiSettings& settings)
{
    if (m_idSwitched)
        return;
    NotesPasswordSource* source = settings.passwordSource.get();
    QString id = settings.idFile;
    if (id.isEmpty())
        id = environmentString("KeyFileName");
    if (id.isEmpty())
        id = environmentString("ServerKeyFileName");
    if (id.isEmpty() || (!source && settings.idFile.isEmpty())) {
        // Nothing to switch to, or nobody to ask: Notes goes on with the ID it has.
        m_idSwitched = true;
        return;
    }
    if (QFileInfo(id).isRelative()) {
        char data[MAXPATH + 1] = {};
        const WORD n = api().OSGetDataDirectory(data);
        const QString dataDirectory = fromLmbcs(data, qstrnlen(data, std::min<WORD>(n, MAXPATH)));
        if (!dataDirectory.isEmpty() && !QFileInfo::exists(id))
            id = QDir(dataDirectory).filePath(id);
    }
    if (!QFileInfo(id).isFile())
        throw OperationError(QStringLiteral("The Notes ID file %1 does not exist").arg(id));

    const QByteArray idName = toLmbcs(QDir::toNativeSeparators(id));
    auto tryPassword = [&](const QString& password) {
        QByteArray file = idName;
        QByteArray secret = toLmbcs(password);
        char user[MAXUSERNAME + 1] = {};
        const STATUS status = api().SECKFMSwitchToIDFile(
            file.data(), secret.data(), user, MAXUSERNAME, fKFM_switchid_DontSetEnvVar, nullptr);
        wipe(secret);
        if (status == NOERROR) {
            m_userName = fromLmbcs(user, qstrnlen(user, MAXUSERNAME));
            m_idSwitched = true;
        }
        return status;
    };

    if (!source) {
        // An ID named without a way to give its password: one without a password.
        const STATUS status = tryPassword(QString());
        if (status != NOERROR)
            throw OperationError(
                QStringLiteral("Notes cannot use the ID %1: %2").arg(id, errorText(status)));
        return;
    }

    NotesPasswordSource::Request request;
    request.idFile = id;
    if (!source->asksUser()) {
        const std::optional<QString> password = source->password(request);
        const STATUS status = tryPassword(password.value_or(QString()));
        if (status == NOERROR)
            return;
        if (password)
            throw OperationError(
                QStringLiteral("The password for the Notes ID %1 was not accepted: %2")
                    .arg(id, errorText(status)));
        throw OperationError(QStringLiteral("The Notes ID %1 cannot be used without its "
                                            "password (%2): give the password")
                                 .arg(id, errorText(status)));
    }

    // Asked only when the ID has a password: one without takes the empty one.
    if (tryPassword(QString()) == NOERROR)
        return;
    for (int attempt = 1; attempt <= source->attempts(); ++attempt) {
        request.attempt = attempt;
        const std::optional<QString> password = source->password(request);
        if (!password)
            throw OperationError(
                QStringLiteral("No password was given for the Notes ID %1").arg(id));
        const STATUS status = tryPassword(*password);
        if (status == NOERROR)
            return;
        request.refusal = errorText(status);
    }
    throw OperationError(QStringLiteral("The password for the Notes ID %1 was not accepted: %2")
                             .arg(id, request.refusal));
}

} // namespace tarvik::notes::capi
