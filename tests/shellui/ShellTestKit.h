#pragma once

// Helpers of the shell's widget tests: a stand-in for the browser, the texts
// a person sees in a widget tree, and screenshots on request.
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace shelltest {

// Receives what QDesktopServices would hand to the browser; registered for
// "http" (the fake service's scheme) by the tests.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

// The texts of the labels, buttons, placeholders and tool buttons under
// root that are visible on screen (root must be shown), with mnemonic
// ampersands removed. Plain texts only: no tool tips, no accessible names.
QStringList visibleTexts(const QWidget *root);
// The same texts whether visible or not, and the texts of the actions of
// every menu under root (menu titles included).
QStringList allTexts(const QWidget *root);

// Waits until a GET of url has been answered, whatever the answer; what the
// code under test sent to the same server before has arrived by then.
void roundTrip(const QUrl &url);

// Saves root as <TOLVI_SCREENSHOT_DIR>/<name>.png when that variable is set.
void saveScreenshot(QWidget *root, const QString &name);

} // namespace shelltest
