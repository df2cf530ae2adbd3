#pragma once

// A control form against the fake service (ControlFixture) with what the
// windows need around it: a scripted prompter, a folder chooser whose
// browser answers from a list, and the addresses the windows opened.

#include "shell/windows/FolderChooser.h"
#include "tests/shell/ControlFixture.h"
#include "tests/shell/windows/ScriptedPrompter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QStringList>
#include <QWidget>

#include <deque>
#include <memory>

class WindowFixture : public ControlFixture {
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        chooser_ = std::make_unique<FolderChooser>(prompter_, DataPath(QString()),
                                                   [this](QWidget*, const QString&, const QString&) {
                                                       if (choices_.empty())
                                                           return QString();
                                                       const QString choice = choices_.front();
                                                       choices_.pop_front();
                                                       return choice;
                                                   });
    }

    // A control form that talks to the fake.
    void MakeFakeControl()
    {
        WriteDebugFile(FakeDebugLines());
        MakeControl();
    }

    static void PressEnter(QWidget* widget)
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &press);
    }

    ScriptedPrompter prompter_;
    std::deque<QString> choices_;
    std::unique_ptr<FolderChooser> chooser_;
    QStringList urls_;
};
