// The floor for start-up: a bare widgets program that shows a window and quits.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(837, 442);
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
