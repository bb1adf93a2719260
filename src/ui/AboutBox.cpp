#include "ui/AboutBox.h"

#include <QDesktopServices>
#include <QEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {

// The splash picture is drawn rather than shipped as a file: one less thing to install.
QPixmap SplashPicture()
{
    // Drawn at the highest pixel ratio among the screens, so it stays sharp on a scaled one.
    const QSize size(TAboutBox::kWidth, TAboutBox::kHeight);
    QPixmap picture(size * qApp->devicePixelRatio());
    picture.setDevicePixelRatio(qApp->devicePixelRatio());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, TAboutBox::kHeight);
    sky.setColorAt(0, QColor(18, 44, 84));
    sky.setColorAt(1, QColor(60, 120, 170));
    painter.fillRect(QRect(QPoint(0, 0), size), sky);

    // Two boxes joined by arrows: the PC and the host.
    painter.setPen(QPen(QColor(230, 240, 250), 3));
    painter.setBrush(QColor(255, 255, 255, 40));
    painter.drawRoundedRect(QRectF(40, 128, 120, 66), 8, 8);
    painter.drawRoundedRect(QRectF(320, 120, 120, 82), 8, 8);
    painter.drawLine(170, 146, 310, 146);
    painter.drawLine(300, 139, 310, 146);
    painter.drawLine(300, 153, 310, 146);
    painter.drawLine(170, 176, 310, 176);
    painter.drawLine(180, 169, 170, 176);
    painter.drawLine(180, 183, 170, 176);

    QFont title = painter.font();
    title.setPointSize(40);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(40, 30, 400, 70), Qt::AlignLeft | Qt::AlignVCenter, "Zarvel");
    QFont small = painter.font();
    small.setPointSize(10);
    small.setBold(false);
    painter.setFont(small);
    painter.drawText(QRect(44, 95, 400, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     "FTP for the NonStop Guardian personality");
    painter.drawText(QRect(40, 198, 120, 20), Qt::AlignCenter, "PC");
    painter.drawText(QRect(320, 206, 120, 20), Qt::AlignCenter, "Tandem");
    return picture;
}

} // namespace

TAboutBox::TAboutBox(QWidget *parent) : QDialog(parent)
{
    setObjectName("AboutBox");
    setWindowTitle("About");
    setFixedSize(kWidth, kHeight);

    imgSplash = new QLabel(this);
    imgSplash->setGeometry(0, 0, kWidth, kHeight);
    imgSplash->setPixmap(SplashPicture());
    imgSplash->setAccessibleName("Zarvel");

    lblVersion = new QLabel(VersionLabelText(QStringLiteral(ZARVEL_VERSION)), this);
    lblVersion->setGeometry(kWidth - 130, 12, 118, 20);
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblVersion->setStyleSheet("color: white;");

    lblUrl = new QLabel(QStringLiteral(ZARVEL_HOMEPAGE), this);
    lblUrl->setAccessibleName(lblUrl->text());
    lblUrl->setGeometry(12, kHeight - 28, 300, 20);
    lblUrl->setStyleSheet("color: #9fd3ff; text-decoration: underline;");
    lblUrl->setCursor(Qt::PointingHandCursor);
    // Reachable with Tab and opened with Enter or Space, as a link must be without a mouse.
    lblUrl->setFocusPolicy(Qt::StrongFocus);
    lblUrl->setAccessibleDescription("Web address; Enter opens it");
    lblUrl->installEventFilter(this);

    Label1 = new QLabel("Copyright (C) 2026 Ondrik. Free software under the GPL, version 3 or later.", this);
    Label1->setGeometry(12, kHeight - 62, 456, 20);
    Label1->setStyleSheet("color: white;");

    btnClose = new QPushButton("&Close", this);
    btnClose->setObjectName("btnClose");
    btnClose->adjustSize();
    btnClose->move(kWidth - btnClose->width() - 12, kHeight - btnClose->height() - 8);
    btnClose->hide(); // a splash has nothing to close; the about dialog shows it
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    tmrSplash = new QTimer(this);
    tmrSplash->setInterval(kSplashMs);
    tmrSplash->setSingleShot(true);
    connect(tmrSplash, &QTimer::timeout, this, &TAboutBox::tmrSplashTimer);

    // As designed the box has no border and stays on top; tmrSplashTimer gives it a frame.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
}

void TAboutBox::Splash()
{
    tmrSplash->start();
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(kWidth, imgSplash->height());
    show();
    setEnabled(true);
}

void TAboutBox::tmrSplashTimer()
{
    tmrSplash->stop();
    hide();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kWidth, imgSplash->height());
    btnClose->show();
}

int TAboutBox::exec()
{
    // Still the splash (or never shown as one): made the about dialog first.
    if (tmrSplash->isActive() || btnClose->isHidden())
        tmrSplashTimer();
    btnClose->setFocus();
    return QDialog::exec();
}

void TAboutBox::lblUrlClick()
{
    QDesktopServices::openUrl(QUrl(lblUrl->text()));
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblUrl && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        lblUrlClick();
        return true;
    }
    if (watched == lblUrl && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            lblUrlClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Splash or about dialog, the box sits in the middle of the screen.
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QString VersionLabelText(const QString &version)
{
    return version.isEmpty() ? QString() : "v" + version;
}
