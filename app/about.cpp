#include "about.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/GuiPictures.h"

TAboutBox::TAboutBox(const std::string& versionText, QWidget* parent) : QDialog(parent)
{
    setObjectName("AboutBox");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);

    imgPicture = new QLabel;
    imgPicture->setObjectName("imgPicture");
    imgPicture->setPixmap(LogoPicture().scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    labProduct = new QLabel("Corvella");
    labProduct->setObjectName("labProduct");
    QFont productFont = labProduct->font();
    productFont.setPointSizeF(productFont.pointSizeF() * 1.6);
    productFont.setBold(true);
    labProduct->setFont(productFont);
    labVersion = new QLabel(QString::fromStdString("Version " + versionText));
    labVersion->setObjectName("labVersion");
    labPlatforms = new QLabel(PlatformText());
    labPlatforms->setObjectName("labPlatforms");
    for (QLabel* label : {labProduct, labVersion, labPlatforms})
        label->setTextFormat(Qt::PlainText);
    btnOK = new QPushButton("OK");
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(labProduct);
    texts->addWidget(labVersion);
    texts->addWidget(labPlatforms);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(imgPicture, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addSpacing(8);
    column->addLayout(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QString TAboutBox::PlatformText()
{
#if defined(Q_OS_LINUX)
    return "Linux desktops (X11 and Wayland), Debian 12 and later";
#elif defined(Q_OS_MACOS)
    return "macOS";
#elif defined(Q_OS_WIN)
    return "Windows 10/11";
#else
    return "Desktop systems with Qt 6";
#endif
}

void TAboutBox::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QWidget* owner = parentWidget()) {
        const QRect area = owner->frameGeometry();
        move(area.center() - rect().center());
    }
}
