#pragma once

// The questions and messages a window puts to the user. The program's
// prompter shows message boxes; tests answer from a script and keep what was
// shown. Called on the user-interface thread only.

#include <QString>

class QWidget;

class Prompter {
public:
    virtual ~Prompter() = default;

    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& title, const QString& text) = 0;
    // An OK/Cancel question; true for OK.
    virtual bool AskOkCancel(QWidget* owner, const QString& title, const QString& text) = 0;
    // A message with an OK button.
    virtual void Tell(QWidget* owner, const QString& text) = 0;
};

// Qt message boxes, each one modal to its owner.
class MessageBoxPrompter : public Prompter {
public:
    bool AskYesNo(QWidget* owner, const QString& title, const QString& text) override;
    bool AskOkCancel(QWidget* owner, const QString& title, const QString& text) override;
    void Tell(QWidget* owner, const QString& text) override;

    // The process's prompter.
    static Prompter& Shared();
};
