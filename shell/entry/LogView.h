#pragma once

// A view for a control form that runs without any window: what it would
// show goes to the log.

#include "shell/control/ControlView.h"

class LogView : public ControlView {
public:
    void SetTrayIcon(int) override {}
    void SetToolTip(const QString&) override {}
    void ShowBalloon(const QString& title, const QString& text) override;
    void ShowMessage(const QString& title, const QString& text) override;
    void SetQuotaItems(bool, const QString&) override {}
    void SetResyncItem(bool, const QString&) override {}
    void SetHomePageCaption(const QString&) override {}
    void SetLogItemVisible(bool) override {}
    void OpenUrl(const QString&) override {}
    void OpenFolder(const QString&) override {}
    void SelectFile(const QString&) override {}
    void ShowBindingPages(int) override {}
    void Quit() override {}
};
