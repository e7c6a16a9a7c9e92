#pragma once

#include <QMainWindow>

// The main window until the real views arrive.
class PlaceholderWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit PlaceholderWindow(QWidget *parent = nullptr);
};
