#include "shell/control/ShellMessageSink.h"

#include "shell/control/TFrmControl.h"
#include "shell/control/UiThreadPost.h"

ShellMessageSink::ShellMessageSink(TFrmControl& control, std::shared_ptr<UiThreadPost> post)
    : control_(control), post_(std::move(post))
{
}

void ShellMessageSink::ShowMessage(const QString& title, const QString& text)
{
    post_->Post([&control = control_, title, text] { control.ShowMsg(title, text); });
}
