#pragma once

#include "app/SaveWindowPort.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace tarvik {

struct AppContext;
class DialogPort;
class EventPump;
class ExportRun;

// The export window: one button that starts the run, and the labels that
// follow it.
class frmSave : public QDialog, public SaveWindowPort {
    Q_OBJECT

public:
    frmSave(AppContext& context, DialogPort& dialogs, EventPump& pump, const QString& databasePath,
            QWidget* owner = nullptr);
    ~frmSave() override;

    void CmdConversion_Click();
    ExportRun& run() { return *m_run; }

    // SaveWindowPort
    void setHeader(const QString& text) override;
    void setProcessing(const QString& text) override;
    void setFound(const QString& text) override;
    void setCurrent(const QString& text) override;
    void setSubjectLabelVisible(bool visible) override;
    void unload() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPushButton* m_conversion;
    QLabel* m_header;
    QLabel* m_subject;
    QLabel* m_processing;
    QLabel* m_found;
    QLabel* m_current;
    std::unique_ptr<ExportRun> m_run;
};

} // namespace tarvik
