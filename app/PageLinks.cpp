#include "app/PageLinks.h"

#include <QHBoxLayout>
#include <QToolButton>

#include <string>

#include "app/PageHost.h"
#include "app/WidgetMakers.h"

namespace {

QToolButton* MakeLinkButton(const QString& address, const char* name)
{
    QToolButton* button = MakeFlatButton(address, name);
    button->setToolTip("Visite our website");
    // The palette's own link colour, which dark styles make light.
    button->setStyleSheet("QToolButton { color: palette(link); text-decoration: underline; border: none; }");
    return button;
}

} // namespace

QHBoxLayout* MakePageLinks(PageHost& host, QObject* context, char number)
{
    const std::string suffix(1, number);
    auto* web = MakeLinkButton(QString::fromStdString(host.WebAddress()), ("sbtnWeb" + suffix).c_str());
    auto* help = MakeFlatButton("&Help", ("sbtnHelp" + suffix).c_str());
    auto* about = MakeFlatButton("&About", ("sbtnAbout" + suffix).c_str());
    const auto onClick = [&host, context](QToolButton* button, void (PageHost::*command)()) {
        QObject::connect(button, &QToolButton::clicked, context,
                         [&host, command] { host.RunHandler([&host, command] { (host.*command)(); }); });
    };
    onClick(web, &PageHost::ShowWebSite);
    onClick(help, &PageHost::ShowHelp);
    onClick(about, &PageHost::ShowAbout);
    auto* links = new QHBoxLayout;
    links->addWidget(web);
    links->addStretch(1);
    links->addWidget(help);
    links->addWidget(about);
    return links;
}
