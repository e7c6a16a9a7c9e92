// The yardstick of the start-up benchmark: the smallest Qt Widgets program
// that shows one empty window, of the size Tolvi's main window opens with.
// With --text it shows one line of text instead, which adds what any window
// with text pays (the font set-up, a glyph cache).
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    if (QApplication::arguments().contains(QStringLiteral("--text"))) {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(new QLabel(QStringLiteral("How can I help?"), &window), 0, Qt::AlignCenter);
    }
    window.resize(1000, 700);
    window.show();
    return QApplication::exec();
}
