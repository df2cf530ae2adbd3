#pragma once

// A prompter for tests: answers questions from a script (then with the
// fallback) and keeps every question and message.

#include "shell/windows/Prompter.h"

#include <QStringList>

#include <deque>

class ScriptedPrompter : public Prompter {
public:
    bool AskYesNo(QWidget*, const QString&, const QString& text) override { return Answer(text); }
    bool AskOkCancel(QWidget*, const QString&, const QString& text) override { return Answer(text); }
    void Tell(QWidget*, const QString& text) override { told << text; }

    std::deque<bool> answers;
    bool fallback = false;
    QStringList asked;
    QStringList told;

private:
    bool Answer(const QString& text)
    {
        asked << text;
        if (answers.empty())
            return fallback;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
};
