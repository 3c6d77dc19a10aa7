#include "ui/frmSave.h"

#include "app/ExportRun.h"
#include "ui/Artwork.h"
#include "ui/NotesTab.h"
#include "ui/Placement.h"

#include <QLabel>
#include <QPushButton>

namespace tarvik {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& place,
              bool bold = false)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(art::tahoma(8.25, bold));
    l->setGeometry(place);
    return l;
}

} // namespace

frmSave::frmSave(AppContext& context, DialogPort& dialogs, EventPump& pump,
                 const QString& databasePath, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("frmSave"));
    setWindowTitle(QStringLiteral("Export to Outlook Express .EML format"));
    setFont(art::tahoma());
    setFixedSize(490, 171);
    setModal(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    m_conversion = new QPushButton(QStringLiteral("&Export Emails"), this);
    m_conversion->setObjectName(QStringLiteral("CmdConversion"));
    m_conversion->setGeometry(176, 136, 145, 29);

    auto* frame = new GradientFrame(QStringLiteral(" Export Progress Details"), this);
    frame->setObjectName(QStringLiteral("ExportFrame"));
    frame->setGeometry(8, 8, 473, 121);
    // The phase text runs on to the frame's edge: folder names make it long.
    m_header = label(frame, "LblSaveHeader", QStringLiteral("Checking Configuration..."),
                     QRect(72, 24, 393, 13));
    auto* arrow = new QLabel(frame);
    arrow->setObjectName(QStringLiteral("ImgReadingArrow"));
    arrow->setPixmap(art::arrow());
    arrow->setGeometry(54, 24, 10, 16);
    m_subject =
        label(frame, "LblSubject", QStringLiteral("Subject :"), QRect(16, 48, 49, 13), true);
    m_processing = label(frame, "LblProcessing", QString(), QRect(72, 48, 395, 37));
    m_processing->setWordWrap(true);
    m_processing->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_processing->setTextFormat(Qt::PlainText);
    label(frame, "LblFoundLabel", QStringLiteral("Found :"), QRect(24, 88, 47, 13), true);
    m_found = label(frame, "LblFound", QString(), QRect(72, 88, 115, 13));
    label(frame, "Label1", QStringLiteral("Current :"), QRect(296, 88, 49, 13), true);
    m_current = label(frame, "LblCurrent", QString(), QRect(352, 88, 99, 13));

    m_run = std::make_unique<ExportRun>(context, *this, dialogs, pump, databasePath);
    connect(m_conversion, &QPushButton::clicked, this, &frmSave::CmdConversion_Click);
}

frmSave::~frmSave() = default;

void frmSave::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOnOwner(this);
}

void frmSave::CmdConversion_Click()
{
    m_conversion->setEnabled(false);
    m_run->CmdConversion_Click();
    m_conversion->setEnabled(true);
}

void frmSave::setHeader(const QString& text)
{
    m_header->setText(text);
}

void frmSave::setProcessing(const QString& text)
{
    m_processing->setText(text);
}

void frmSave::setFound(const QString& text)
{
    m_found->setText(text);
}

void frmSave::setCurrent(const QString& text)
{
    m_current->setText(text);
}

void frmSave::setSubjectLabelVisible(bool visible)
{
    m_subject->setVisible(visible);
}

void frmSave::unload()
{
    accept();
}

} // namespace tarvik
