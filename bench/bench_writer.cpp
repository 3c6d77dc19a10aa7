// Mail-item writer benchmarks, run by hand:
//   bench_writer rate [messages] [runs]   messages per second, typical 5 KB mail
//   bench_writer memory [megabytes]       peak memory while saving one large attachment
// Figures go to docs/benchmarks.md.

#include "mail/RdoSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvik::mail;
using namespace Qt::Literals::StringLiterals;

namespace {

// Peak resident set size since the last reset, in KiB (Linux).
long peakRssKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void resetPeakRss()
{
    QFile clear(u"/proc/self/clear_refs"_s);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QString typicalBody()
{
    QString body;
    const QString paragraph = u"Hallo Team, anbei die Zahlen für das erste Quartal. Die Umsätze "
                              u"in München liegen über Plan, in Hamburg leicht darunter. Bitte "
                              u"prüft die Tabelle bis Freitag und meldet Abweichungen.\r\n\r\n"_s;
    while (body.size() < 5000)
        body += paragraph;
    return body;
}

int rate(int messages, int runs)
{
    QTemporaryDir dir;
    const QString header = dir.filePath(u"sqm.pbs"_s);
    QFile h(header);
    if (!h.open(QIODevice::WriteOnly))
        return 1;
    h.write("From:Mira Kestrel <mira.kestrel@example.com>\r\n");
    h.close();
    const QString body = typicalBody();
    RdoSession session;
    session.Logon();
    std::vector<double> perSecond;
    for (int run = 0; run < runs; ++run) {
        const QString out = dir.filePath(u"run%1"_s.arg(run));
        QDir().mkpath(out);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < messages; ++i) {
            auto mail = session.GetDefaultFolder(olFolderInbox)->Items()->Add(olMailItem);
            mail->Import(header, olRfc822);
            mail->setSent(true);
            mail->setSubject(u"Quartalszahlen Q1 – Bitte prüfen (%1)"_s.arg(i));
            mail->setBody(body);
            mail->setCC(u"CN=Ann Example/OU=Sales/O=Acme;bob@example.com"_s);
            mail->setBCC(QString());
            mail->Recipients()
                .Add(u"team@example.com;Jürgen Groß <juergen@example.de>"_s)
                ->Resolve();
            mail->setSentOn(u"2008-03-14 10:32:05 +01:00"_s);
            mail->setReceivedTime(u"2008-03-14 10:32:05 +01:00"_s);
            mail->SaveAs(out + u"/Quartalszahlen%1.eml"_s.arg(i), olRfc822);
        }
        perSecond.push_back(messages * 1000.0 / std::max<qint64>(1, timer.elapsed()));
    }
    std::sort(perSecond.begin(), perSecond.end());
    const qint64 size = QFileInfo(dir.filePath(u"run0/Quartalszahlen0.eml"_s)).size();
    std::printf("typical mail (%lld bytes written): median %.0f messages/s over %d runs of %d "
                "(min %.0f, max %.0f)\n",
                size, perSecond[perSecond.size() / 2], runs, messages, perSecond.front(),
                perSecond.back());
    return 0;
}

int memory(int megabytes)
{
    QTemporaryDir dir;
    const QString big = dir.filePath(u"big.bin"_s);
    {
        QFile f(big);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray chunk(1 << 20, '\0');
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char((i * 2654435761u) >> 24);
        for (int i = 0; i < megabytes; ++i)
            f.write(chunk);
    }
    RdoSession session;
    session.Logon();
    auto mail = session.GetDefaultFolder(olFolderInbox)->Items()->Add(olMailItem);
    mail->setSubject(u"Large attachment"_s);
    mail->Attachments().Add(big);
    QFile::remove(big);
    resetPeakRss();
    const long before = peakRssKiB();
    QElapsedTimer timer;
    timer.start();
    mail->SaveAs(dir.filePath(u"big.eml"_s), olRfc822);
    const qint64 ms = timer.elapsed();
    const long after = peakRssKiB();
    std::printf("%d MB attachment: %lld MB written in %lld ms; peak RSS %ld KiB before, %ld KiB "
                "during SaveAs (+%ld KiB)\n",
                megabytes, QFileInfo(dir.filePath(u"big.eml"_s)).size() >> 20, ms, before, after,
                after - before);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1, u"rate"_s);
    if (mode == u"rate")
        return rate(args.value(2, u"1000"_s).toInt(), args.value(3, u"5"_s).toInt());
    if (mode == u"memory")
        return memory(args.value(2, u"200"_s).toInt());
    std::fprintf(stderr, "usage: bench_writer rate [messages] [runs] | memory [megabytes]\n");
    return 2;
}
