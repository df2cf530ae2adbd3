#include "shell/windows/Prompter.h"

#include "foundation/text/Xi18n.h"

#include <QMessageBox>

bool MessageBoxPrompter::AskYesNo(QWidget* owner, const QString& title, const QString& text)
{
    return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

bool MessageBoxPrompter::AskOkCancel(QWidget* owner, const QString& title, const QString& text)
{
    return QMessageBox::question(owner, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) ==
           QMessageBox::Ok;
}

void MessageBoxPrompter::Tell(QWidget* owner, const QString& text)
{
    QMessageBox::information(owner, Xi18n::Text(XText::_APPName), text);
}

Prompter& MessageBoxPrompter::Shared()
{
    static MessageBoxPrompter prompter;
    return prompter;
}
