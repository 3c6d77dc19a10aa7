#include "mail/HeaderText.h"

#include <QStringList>

namespace tarvik::mail {

namespace {

// Characters of an encoded word's text: with "=?utf-8?Q?" and "?=" a word of
// at most 64 characters, which fits a line even after "Subject: ".
constexpr int encodedWordText = 52;
// Longer plain words are encoded instead, so they can be split.
constexpr int maxPlainWord = 60;
// The longest encoded word RFC 2047 allows.
constexpr int maxEncodedWord = 75;
// A longer ASCII name is encoded, so it can be split below 998 characters.
constexpr int maxQuotedName = 900;

bool isPrintableAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

bool isAtext(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-/=?^_`{|}~").contains(c);
}

// Words separated by single blanks, none empty or too long; nothing when the
// text cannot be written as plain words.
std::optional<QList<QByteArray>> plainWords(const QString& text, bool atextOnly)
{
    // "=?" would be read back as the start of an encoded word.
    if (text.isEmpty() || !isPrintableAscii(text) || text.contains(u"=?"))
        return std::nullopt;
    const QList<QByteArray> words = text.toLatin1().split(' ');
    for (const QByteArray& w : words) {
        if (w.isEmpty() || w.size() > maxPlainWord)
            return std::nullopt;
        if (atextOnly && !std::all_of(w.begin(), w.end(), isAtext))
            return std::nullopt;
    }
    return words;
}

// The Q form of one character: safe ASCII as is (allowed even in a phrase),
// blank as "_", every other byte of its UTF-8 as =XX.
QByteArray qEncoded(char32_t c)
{
    QByteArray out;
    for (const char b : QString::fromUcs4(&c, 1).toUtf8()) {
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            QByteArrayView("!*+-/").contains(b))
            out.append(b);
        else if (b == ' ')
            out.append('_');
        else
            out.append('=' + QByteArray::number(uchar(b), 16).rightJustified(2, '0').toUpper());
    }
    return out;
}

// RFC 2047 words in UTF-8, each ending between characters. Q rather than B:
// GMime joins the text of adjacent encoded words before decoding it, which
// breaks on the padding that ends most B words.
QList<QByteArray> encodedWords(const QString& text)
{
    QList<QByteArray> words;
    QByteArray chunk;
    const auto flush = [&] {
        if (!chunk.isEmpty())
            words.append("=?utf-8?Q?" + chunk + "?=");
        chunk.clear();
    };
    for (const char32_t c : text.toUcs4()) {
        const QByteArray piece = qEncoded(c);
        if (chunk.size() + piece.size() > encodedWordText)
            flush();
        chunk.append(piece);
    }
    flush();
    return words;
}

QByteArray quotedString(const QString& text)
{
    QByteArray quoted = text.toLatin1();
    quoted.replace('\\', "\\\\");
    quoted.replace('"', "\\\"");
    return '"' + quoted + '"';
}

// A display name as tokens the folding may separate. Plain and quoted names
// are one token: GMime keeps a line break inside a name as part of it. A
// non-ASCII name goes into one encoded word where it fits (B or Q, whichever
// is shorter); a longer one is split into several Q words, between which
// folding is safe. Readers that follow RFC 2047 join those exactly; Python's
// email package shows a blank at each split.
QList<QByteArray> phrase(const QString& name)
{
    const auto words = plainWords(name, true);
    if (words && name.size() <= maxQuotedName)
        return {words->join(' ')};
    if (isPrintableAscii(name) && !name.contains(u"=?") && name.size() <= maxQuotedName)
        return {quotedString(name)};
    const QList<QByteArray> q = encodedWords(name);
    const QByteArray b = "=?utf-8?B?" + name.toUtf8().toBase64() + "?=";
    if (q.size() == 1 && q.first().size() <= b.size())
        return q;
    if (b.size() <= maxEncodedWord)
        return {b};
    return q;
}

// Puts the tokens on lines, a blank before each, starting a new line where
// the next token would pass the limit.
QByteArray fold(const QByteArray& headerName, const QList<QByteArray>& tokens)
{
    QByteArray out;
    const qsizetype start = headerName.size() + 1;
    qsizetype lineLength = start;
    for (const QByteArray& token : tokens) {
        if (lineLength > start && lineLength + 1 + token.size() > maxHeaderLine) {
            out += '\n';
            lineLength = 0;
        }
        out += ' ' + token;
        lineLength += 1 + token.size();
    }
    return out + '\n';
}

bool isAttributeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$&+-.^_`|~").contains(c);
}

// The percent-encoded UTF-8 of each character, one entry per character.
QList<QByteArray> percentEncodedCharacters(const QString& text)
{
    QList<QByteArray> pieces;
    for (const char32_t c : text.toUcs4()) {
        QByteArray piece;
        for (const char b : QString::fromUcs4(&c, 1).toUtf8()) {
            if (isAttributeChar(b))
                piece.append(b);
            else
                piece.append('%' +
                             QByteArray::number(uchar(b), 16).rightJustified(2, '0').toUpper());
        }
        pieces.append(piece);
    }
    return pieces;
}

} // namespace

QByteArray rawUnstructured(const QByteArray& headerName, const QString& text)
{
    return fold(headerName, plainWords(text, false).value_or(encodedWords(text)));
}

QByteArray rawAddressList(const QByteArray& headerName, const QList<Mailbox>& mailboxes)
{
    QList<QByteArray> tokens;
    for (qsizetype i = 0; i < mailboxes.size(); ++i) {
        const Mailbox& m = mailboxes[i];
        if (m.name.isEmpty()) {
            tokens.append(m.address.toLatin1());
        } else {
            tokens += phrase(m.name);
            tokens.append('<' + m.address.toLatin1() + '>');
        }
        if (i + 1 < mailboxes.size())
            tokens.last().append(',');
    }
    return fold(headerName, tokens);
}

QByteArray rawValueWithFileName(const QByteArray& value, const QByteArray& parameter,
                                const QString& fileName)
{
    const QByteArray head = ' ' + value + ';';
    // Each parameter line holds a blank, the parameter and possibly ";".
    constexpr int room = maxHeaderLine - 2;

    // Readers decode "=?...?=" in a quoted name as an encoded word, which
    // would change the name: such names take the extended form too.
    if (isPrintableAscii(fileName) && !fileName.contains(u"=?")) {
        QByteArray quoted = fileName.toLatin1();
        quoted.replace('\\', "\\\\");
        quoted.replace('"', "\\\"");
        const QByteArray token = parameter + "=\"" + quoted + '"';
        if (token.size() <= room)
            return head + "\n " + token + '\n';
    }

    const QList<QByteArray> pieces = percentEncodedCharacters(fileName);
    const QByteArray whole = parameter + "*=utf-8''" + pieces.join();
    if (whole.size() <= room)
        return head + "\n " + whole + '\n';

    QList<QByteArray> lines;
    QByteArray line;
    for (const QByteArray& piece : pieces) {
        if (line.isEmpty() || line.size() + piece.size() > room) {
            if (!line.isEmpty())
                lines.append(line);
            line = parameter + '*' + QByteArray::number(lines.size()) +
                   "*=" + (lines.isEmpty() ? "utf-8''" : "");
        }
        line.append(piece);
    }
    lines.append(line);
    return head + "\n " + lines.join(";\n ") + '\n';
}

} // namespace tarvik::mail
