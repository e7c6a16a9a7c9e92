// The yardstick of the start-up benchmark: the smallest Qt Widgets program
// that shows one empty window, of the size Tolvi's main window opens with.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.resize(1000, 700);
    window.show();
    return QApplication::exec();
}
