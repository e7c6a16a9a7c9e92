#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The settings sheet: the system prompt, stored with every edit, and the
// global shortcut with a warning while it could not be registered. "Done"
// is the default button: Return anywhere but in the prompt editor closes the
// dialog; in the editor it starts a new line. Whoever presents the dialog
// reacts to finished() (the chat window clears app.showSettings).
class SettingsView : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsView(QWidget *parent = nullptr);

    QPlainTextEdit *promptEditor() const { return m_prompt; }
    QLabel *hotKeyWarning() const { return m_warning; }
    QPushButton *doneButton() const { return m_done; }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *makePromptGroup();
    QWidget *makeShortcutGroup();
    void applyColors();
    void fitHeight();
    void followHotKey();

    QLabel *m_promptNote = nullptr;
    QPlainTextEdit *m_prompt = nullptr;
    QLabel *m_warning = nullptr;
    QPushButton *m_done = nullptr;
};
