#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Zarvel");
    QMainWindow window;
    window.setWindowTitle("Zarvel");
    window.show();
    return app.exec();
}
