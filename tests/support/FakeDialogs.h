#pragma once

#include "app/Ports.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik::test {

// A dialog double: records every message box and answers from scripts.
class FakeDialogs : public DialogPort {
public:
    struct Shown {
        QString text;
        QString title;
        MessageButtons buttons;
        MessageIcon icon;
    };

    MessageAnswer showMessage(const QString& text, const QString& title, MessageButtons buttons,
                              MessageIcon icon) override
    {
        messages.append({text, title, buttons, icon});
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }

    QString openFile(const QString& filter) override
    {
        fileFilters.append(filter);
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }

    QString browseForFolder(const QString& title) override
    {
        folderTitles.append(title);
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }

    QList<Shown> messages;
    QList<MessageAnswer> answers;
    QStringList fileAnswers;
    QStringList fileFilters;
    QStringList folderAnswers;
    QStringList folderTitles;
};

} // namespace tarvik::test
