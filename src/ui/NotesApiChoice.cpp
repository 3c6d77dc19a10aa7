#include "ui/NotesApiChoice.h"

#include "app/AppContext.h"
#include "notes/capi/NotesApiBackend.h"
#include "notes/capi/NotesApiOptions.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QThread>

namespace tarvik {

std::optional<QString> NotesPasswordPrompt::password(const Request& request)
{
    if (!qApp || QThread::currentThread() != qApp->thread())
        return std::nullopt;
    QString label = QStringLiteral("Enter the password of the Notes ID\n%1")
                        .arg(QDir::toNativeSeparators(request.idFile));
    if (request.attempt > 1 && !request.refusal.isEmpty())
        label = QStringLiteral("Notes did not accept the password: %1\n\n").arg(request.refusal) +
                label;
    QInputDialog dialog;
    dialog.setObjectName(QStringLiteral("dlgNotesPassword"));
    dialog.setWindowTitle(QStringLiteral("Notes Password"));
    dialog.setLabelText(label);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString text = dialog.textValue();
    dialog.setTextValue(QString());
    return text;
}

bool chooseNotesApi(AppContext& context, const QStringList& arguments)
{
    QCommandLineParser parser;
    const notes::capi::NotesApiOptions options(notes::capi::NotesApiOptions::Password::None);
    options.addTo(parser);
    // Arguments the window does not know are passed over, as they always were.
    parser.parse(arguments);
    std::optional<notes::capi::NotesApiSettings> settings = options.settings(parser);
    if (!settings)
        return false;
    settings->passwordSource = std::make_shared<NotesPasswordPrompt>();
    notes::capi::installNotesApi(context.notesSessions,
                                 std::make_shared<notes::capi::NotesApiBackend>(*settings));
    return true;
}

} // namespace tarvik
