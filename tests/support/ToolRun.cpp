#include "ToolRun.h"

#include <QProcess>

namespace tarvik::test {

ToolRun runTool(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    ToolRun run;
    run.output = p.readAllStandardOutput();
    run.errors = p.readAllStandardError();
    if (p.exitStatus() == QProcess::NormalExit)
        run.exitCode = p.exitCode();
    return run;
}

QString builtTool(const char* name)
{
    return QStringLiteral(TARVIK_BINARY_DIR "/") + QLatin1String(name);
}

} // namespace tarvik::test
