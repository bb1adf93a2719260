#pragma once
#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

// The about box; at start-up it first serves as the splash picture for 3000 ms, then it
// turns into the ordinary about dialog that Help > About shows.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *parent = nullptr);

    // Shows the box borderless and on top of other windows until tmrSplash fires.
    void Splash();
    // Ends the splash: hides the box and gives it a dialog frame with a close box.
    void tmrSplashTimer();
    // Opens the maker's web address with the desktop's handler.
    void lblUrlClick();
    // Shows the box as the about dialog; a splash still on screen ends first.
    int exec() override;

    QLabel *imgSplash;    // the 480 x 288 picture, filling the box
    QLabel *lblVersion;   // "v" and the program's version
    QLabel *lblUrl;       // the maker's web address, opened on a click
    QLabel *Label1;       // one-line notice
    QPushButton *btnClose; // "Close", shown once the box is the about dialog (Esc closes it too)
    QTimer *tmrSplash;    // 3000 ms, single shot

    static constexpr int kSplashMs = 3000;
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 288;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

// The version label's text: "v" and the program's version, or empty without a version.
QString VersionLabelText(const QString &version);
