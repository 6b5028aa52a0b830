// TAboutBox: the About dialog: the logo, the program's version, the
// platforms this build runs on and an OK button. Made once by the main
// window and shown modally (the window is disabled meanwhile), on top and
// centred on the window.
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    TAboutBox(const std::string& versionText, QWidget* parent);

    QLabel* imgPicture = nullptr;
    QLabel* labProduct = nullptr;
    QLabel* labVersion = nullptr;
    QLabel* labPlatforms = nullptr;
    QPushButton* btnOK = nullptr;

    // The platform line: the systems this build runs on.
    static QString PlatformText();

protected:
    void showEvent(QShowEvent* event) override;
};
