#include "shell/PlaceholderWindow.h"

#include <QLabel>

PlaceholderWindow::PlaceholderWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Tolvi"));
    setMinimumSize(760, 520);
    auto *label = new QLabel(QStringLiteral("Tolvi"), this);
    label->setAlignment(Qt::AlignCenter);
    setCentralWidget(label);
}
