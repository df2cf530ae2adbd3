#pragma once

// The control form's Qt layer: the tray icon with its tool-tip, balloons and
// popup menu (QSystemTrayIcon), message boxes that do not wait for the user,
// and the desktop. It only shows what the control form decides and passes
// the user's clicks back to it. Without a system tray the agent runs without
// an icon: that is logged once, and balloons then go to the log.

#include "shell/control/ControlView.h"
#include "shell/tray/TrayIcons.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class TFrmControl;

class TrayView : public QObject, public ControlView {
    Q_OBJECT

public:
    struct Options {
        // Show message boxes (off when there is no display to show them on;
        // the messages are logged either way).
        bool messageBoxes = true;
        // Use the system tray when there is one.
        bool useTray = true;
    };

    explicit TrayView(Options options);
    ~TrayView() override;

    // Shows the binding pages (the first-run wizard); without one the view
    // only tells that the computer is not bound.
    void SetBindingPagesHandler(std::function<void(int mode)> handler) { bindingPages_ = std::move(handler); }

    // Whether the icon is shown in a system tray.
    bool HasTray() const { return hasTray_; }

    // Connects the menu and the icon to the control form, which outlives the
    // view's use.
    void Bind(TFrmControl& control);

    // ControlView.
    void SetTrayIcon(int index) override;
    void SetToolTip(const QString& text) override;
    void ShowBalloon(const QString& title, const QString& text) override;
    void ShowMessage(const QString& title, const QString& text) override;
    void SetQuotaItems(bool enabled, const QString& caption) override;
    void SetResyncItem(bool enabled, const QString& caption) override;
    void SetHomePageCaption(const QString& caption) override;
    void SetLogItemVisible(bool visible) override;
    void OpenUrl(const QString& url) override;
    void OpenFolder(const QString& folder) override;
    void SelectFile(const QString& path) override;
    void ShowBindingPages(int mode) override;
    void Quit() override;

    // For the tests: the icon, its menu and its items.
    QSystemTrayIcon& Icon() { return *tray_; }
    QMenu& Menu() { return *menu_; }
    QAction* Item(const QString& name) const;
    int IconIndex() const { return iconIndex_; }

private:
    void BuildMenu();
    QAction* AddItem(QMenu& menu, const QString& name, const QString& caption);

    const Options options_;
    TrayIcons icons_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    bool hasTray_ = false;
    int iconIndex_ = 0;
    QMenu* quotaMenu_ = nullptr;
    std::function<void(int mode)> bindingPages_;
};
