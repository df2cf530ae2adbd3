#pragma once

// A control form's view for tests: keeps what it was told to show.

#include "shell/control/ControlView.h"

#include <QString>
#include <QStringList>

class RecordingView : public ControlView {
public:
    void SetTrayIcon(int index) override { icon = index; ++iconChanges; }
    void SetToolTip(const QString& text) override { toolTip = text; }
    void ShowBalloon(const QString& title, const QString& text) override { balloons << title + u'|' + text; }
    void ShowMessage(const QString&, const QString& text) override { messages << text; }
    void SetQuotaItems(bool enabled, const QString& caption) override
    {
        quotaEnabled = enabled;
        quotaCaption = caption;
    }
    void SetResyncItem(bool enabled, const QString& caption) override
    {
        resyncEnabled = enabled;
        resyncCaption = caption;
    }
    void SetHomePageCaption(const QString& caption) override { homeCaption = caption; }
    void SetLogItemVisible(bool visible) override { logItemVisible = visible; }
    void OpenUrl(const QString& url) override { opened << url; }
    void OpenFolder(const QString& folder) override { opened << folder; }
    void SelectFile(const QString& path) override { selected << path; }
    void ShowBindingPages(int mode) override { bindingPages << mode; }
    void Quit() override { ++quits; }

    int icon = -1;
    int iconChanges = 0;
    QString toolTip;
    QStringList balloons;
    QStringList messages;
    bool quotaEnabled = false;
    QString quotaCaption;
    bool resyncEnabled = false;
    QString resyncCaption;
    QString homeCaption;
    bool logItemVisible = false;
    QStringList opened;
    QStringList selected;
    QList<int> bindingPages;
    int quits = 0;
};
