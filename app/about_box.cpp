#include "app/about_box.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(233, 177);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(8, 8, 217, 121);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    ProgramIcon = new QLabel(panel);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 33, 33);
    ProgramIcon->setPixmap(AppIcon().pixmap(33, 33));
    ProgramIcon->setScaledContents(true);

    ProductName = new QLabel(panel);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setGeometry(52, 12, 160, 16);
    Version = new QLabel(panel);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setGeometry(52, 32, 160, 16);
    Copyright = new QLabel(panel);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Copyright->setGeometry(8, 60, 201, 52);
    Copyright->setWordWrap(true);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(79, 140, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::FormShow()
{
    ProductName->setText(QStringLiteral("Tarnwick Control Panel"));
    Version->setText(QStringLiteral("Version 1.17"));
    Copyright->setText(QStringLiteral("Configuration utility for the Tarnwick RF module\n"
                                      "and the Dunmere 232A carrier board."));
}

void TAboutBox::showEvent(QShowEvent* e)
{
    FormShow();
    QDialog::showEvent(e);
}
