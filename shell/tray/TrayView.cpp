#include "shell/tray/TrayView.h"

#include "shell/control/TFrmControl.h"
#include "shell/tray/DesktopOpener.h"

#include "foundation/log/PeltaLog.h"
#include "foundation/text/Xi18n.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>

TrayView::TrayView(Options options) : options_(options)
{
    menu_ = std::make_unique<QMenu>();
    BuildMenu();
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setIcon(icons_.Icon(0));
    tray_->setContextMenu(menu_.get());
    hasTray_ = options_.useTray && QSystemTrayIcon::isSystemTrayAvailable();
    if (hasTray_)
        tray_->show();
    else
        AppLog.Write(QStringLiteral("FrmControl: no system tray; the agent runs without an icon"), LogGeneral);
}

TrayView::~TrayView()
{
    tray_->hide();  // the icon leaves the tray with the control form
}

QAction* TrayView::AddItem(QMenu& menu, const QString& name, const QString& caption)
{
    QAction* item = menu.addAction(caption);
    item->setObjectName(name);
    return item;
}

void TrayView::BuildMenu()
{
    quotaMenu_ = menu_->addMenu(Xi18n::Text(XText::_UserNotBinding));
    quotaMenu_->menuAction()->setObjectName(QStringLiteral("miQuota"));
    AddItem(*quotaMenu_, QStringLiteral("miAdjust"), QStringLiteral("調整空間"));
    AddItem(*quotaMenu_, QStringLiteral("miBuy"), QStringLiteral("加購"))->setVisible(false);
    QAction* quota2 = AddItem(*menu_, QStringLiteral("miQuota2"), Xi18n::Text(XText::_UserNotBinding));
    quota2->setVisible(false);
    quota2->setEnabled(false);
    menu_->addSeparator();
    AddItem(*menu_, QStringLiteral("Tessaron1"),
            Xi18n::Text(XText::_APPName) + u' ' + Xi18n::Text(XText::_HomePage));
    AddItem(*menu_, QStringLiteral("miFolder"), QStringLiteral("開啟檔案夾"));
    AddItem(*menu_, QStringLiteral("miConfig"), QStringLiteral("進階設定"));
    AddItem(*menu_, QStringLiteral("miUpdate"), QStringLiteral("更新軟體"));
    AddItem(*menu_, QStringLiteral("miResync"), QStringLiteral("重新同步"))->setEnabled(false);
    AddItem(*menu_, QStringLiteral("N4"), QStringLiteral("取得協助"))->setVisible(false);
    QAction* about = AddItem(*menu_, QStringLiteral("miAbout"), QStringLiteral("有關"));
    about->setVisible(false);
    about->setEnabled(false);
    AddItem(*menu_, QStringLiteral("miLog"), QStringLiteral("寫Log"))->setVisible(false);
    menu_->addSeparator();
    AddItem(*menu_, QStringLiteral("miExit"), QStringLiteral("結束翠嵐檔案匣"));
}

QAction* TrayView::Item(const QString& name) const
{
    if (name == QLatin1String("miQuota"))
        return quotaMenu_->menuAction();
    return menu_->findChild<QAction*>(name);
}

void TrayView::Bind(TFrmControl& control)
{
    const auto on = [this, &control](const char* name, void (TFrmControl::*handler)()) {
        connect(Item(QString::fromLatin1(name)), &QAction::triggered, this, [&control, handler] { (control.*handler)(); });
    };
    on("miAdjust", &TFrmControl::miAdjustClick);
    on("miBuy", &TFrmControl::miBuyClick);
    on("Tessaron1", &TFrmControl::Tessaron1Click);
    on("miFolder", &TFrmControl::miFolderClick);
    on("miConfig", &TFrmControl::miConfigClick);
    on("miUpdate", &TFrmControl::miUpdateClick);
    on("miResync", &TFrmControl::miResyncClick);
    on("N4", &TFrmControl::N4Click);
    on("miLog", &TFrmControl::miWriteLog);
    on("miExit", &TFrmControl::miExitClick);
    connect(tray_.get(), &QSystemTrayIcon::messageClicked, this, [&control] { control.OnBalloonClicked(); });
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this, &control](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::DoubleClick)
            control.OnTrayDoubleClicked();
        else if (why == QSystemTrayIcon::Trigger)
            menu_->popup(QCursor::pos());
    });
}

void TrayView::SetTrayIcon(int index)
{
    iconIndex_ = index;
    tray_->setIcon(icons_.Icon(index));
}

void TrayView::SetToolTip(const QString& text)
{
    tray_->setToolTip(text);
}

void TrayView::ShowBalloon(const QString& title, const QString& text)
{
    if (!hasTray_) {
        AppLog.Write(QStringLiteral("Balloon: ") + title + QStringLiteral(": ") + text, LogGeneral);
        return;
    }
    tray_->showMessage(title, text, icons_.Main());
}

void TrayView::ShowMessage(const QString& title, const QString& text)
{
    if (!options_.messageBoxes)
        return;
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("TessaronMessage"));
    box->open();
}

void TrayView::SetQuotaItems(bool enabled, const QString& caption)
{
    for (QAction* item : {Item(QStringLiteral("miQuota")), Item(QStringLiteral("miQuota2"))}) {
        item->setEnabled(enabled);
        item->setText(caption);
    }
}

void TrayView::SetResyncItem(bool enabled, const QString& caption)
{
    QAction* item = Item(QStringLiteral("miResync"));
    item->setEnabled(enabled);
    item->setText(caption);
}

void TrayView::SetHomePageCaption(const QString& caption)
{
    Item(QStringLiteral("Tessaron1"))->setText(caption);
}

void TrayView::SetLogItemVisible(bool visible)
{
    Item(QStringLiteral("miLog"))->setVisible(visible);
}

void TrayView::OpenUrl(const QString& url)
{
    DesktopOpener::OpenUrl(url);
}

void TrayView::OpenFolder(const QString& folder)
{
    DesktopOpener::ShowFolder(folder);
}

void TrayView::SelectFile(const QString& path)
{
    DesktopOpener::SelectFile(path);
}

void TrayView::ShowBindingPages(int mode)
{
    if (bindingPages_) {
        bindingPages_(mode);
        return;
    }
    AppLog.Write(QStringLiteral("FrmControl: this computer is not bound to an account (mode %1); the first-run "
                                "wizard is not part of this program")
                     .arg(mode),
                 LogGeneral);
    ShowBalloon(Xi18n::Text(XText::_APPName), Xi18n::Text(XText::_UserNotBinding));
}

void TrayView::Quit()
{
    QCoreApplication::quit();
}
