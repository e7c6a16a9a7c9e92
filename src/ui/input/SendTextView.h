#pragma once

#include "core/images/PasteboardImages.h"

#include <QPlainTextEdit>

// The message editor's keys and paste. Return and keypad Enter ask to send;
// with Shift or Alt they insert a line break. While an input method is
// composing, Return belongs to the input method. Pasting image files, or
// image data that comes without text, hands what the images are made of
// over, to be read off the main thread, instead of inserting anything.
class SendTextView : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit SendTextView(QWidget *parent = nullptr);

    // An input method holds uncommitted (preedit) text: the editor's own
    // record of it, so a composition that ends without a final event (focus
    // moved away) is never taken for one still running.
    bool isComposing() const;

Q_SIGNALS:
    void sendRequested();
    void imagesPasted(const PasteboardImages::Sources &sources);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
};
