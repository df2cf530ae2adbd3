#include "shell/windows/TFrmPreference.h"

#include "shell/control/TFrmControl.h"
#include "shell/control/UiThreadPost.h"
#include "shell/windows/BackgroundTask.h"
#include "shell/windows/FolderChooser.h"
#include "shell/windows/Prompter.h"
#include "shell/windows/ProxyProbe.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaProxy.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString T(XText name)
{
    return Xi18n::Text(name);
}

QString AppName()
{
    return T(XText::_APPName);
}

QString SettingOf(TFrmControl& control, const char* name)
{
    return control.Settings().Get(QString::fromLatin1(name));
}

// The folder of a link path: under the sync folder for a relative one.
QString LinkFolder(const QString& syncFolder, const QString& path)
{
    if (path.startsWith(u'\\'))
        return syncFolder + QString(path).replace(u'\\', u'/');
    return path;
}

}  // namespace

TFrmPreference::TFrmPreference(TFrmControl& control, Prompter& prompter, FolderChooser& chooser, QWidget* parent)
    : QDialog(parent), control_(control), prompter_(prompter), chooser_(chooser), proxyTester_(&ProxyProbe::Try),
      post_(std::make_shared<UiThreadPost>(this))
{
    setObjectName(QStringLiteral("FrmPreference"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    tabs_ = new QTabWidget(this);
    tabs_->addTab(BuildGeneralTab(), QStringLiteral("一般"));
    tabs_->addTab(BuildProxyTab(), QStringLiteral("代理"));
    tabs_->addTab(BuildBandwidthTab(), QStringLiteral("頻寬"));
    tabs_->addTab(BuildLinksTab(), QStringLiteral("自訂選單"));
    tabs_->setCurrentIndex(PreferenceFields::GeneralTab);

    btnOK_ = new QPushButton(QStringLiteral("確認"), this);
    btnOK_->setDefault(true);
    btnCancel_ = new QPushButton(QStringLiteral("取消"), this);
    btnCancel_->setAutoDefault(false);
    btnApply_ = new QPushButton(QStringLiteral("套用"), this);
    btnApply_->setAutoDefault(false);
    btnApply_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK_);
    buttons->addWidget(btnCancel_);
    buttons->addWidget(btnApply_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);

    connect(btnOK_, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(btnApply_, &QPushButton::clicked, this, [this] { btnApplyClick(); });
}

TFrmPreference::~TFrmPreference()
{
    post_->Close();
    proxyTest_.reset();
}

// ---- Tabs ---------------------------------------------------------------------------------

QWidget* TFrmPreference::BuildGeneralTab()
{
    auto* page = new QWidget;
    cbShowMessage_ = new QCheckBox(QStringLiteral("在桌面顯示訊息"), page);
    cbAutoStart_ = new QCheckBox(QStringLiteral("開機時啟動程式"), page);
    cbUpdateDev_ = new QCheckBox(QStringLiteral("自動更新測試版本"), page);
    cbUpdateDev_->setVisible(false);
    gbAccount_ = new QGroupBox(QStringLiteral("帳號資訊"), page);
    lblAccountInfo_ = new QLabel(gbAccount_);
    lblAccountInfo_->setWordWrap(true);
    btnUnbind_ = new QPushButton(QStringLiteral("取消綁定"), gbAccount_);
    btnUnbind_->setAutoDefault(false);
    auto* account = new QHBoxLayout(gbAccount_);
    account->addWidget(lblAccountInfo_, 1);
    account->addWidget(btnUnbind_);
    gbFolderPath_ = new QGroupBox(page);
    txtFolderPath_ = new QLineEdit(gbFolderPath_);
    txtFolderPath_->setReadOnly(true);
    btnMove_ = new QPushButton(QStringLiteral("換位置"), gbFolderPath_);
    btnMove_->setAutoDefault(false);
    auto* folder = new QHBoxLayout(gbFolderPath_);
    folder->addWidget(txtFolderPath_, 1);
    folder->addWidget(btnMove_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(cbShowMessage_);
    layout->addWidget(cbAutoStart_);
    layout->addWidget(cbUpdateDev_);
    layout->addWidget(gbAccount_);
    layout->addWidget(gbFolderPath_);
    layout->addStretch();

    connect(cbShowMessage_, &QCheckBox::clicked, this, [this](bool on) {
        control_.Reg().show_desktop_notify = on;
        control_.SetSettingBool(QStringLiteral("show_desktop_notify"), on);
    });
    connect(cbAutoStart_, &QCheckBox::clicked, this, [this](bool on) {
        control_.Reg().SetAutoStart(on);
        control_.SetSettingBool(QStringLiteral("auto_start"), on);
    });
    connect(cbUpdateDev_, &QCheckBox::clicked, this,
            [this](bool on) { control_.SetSettingBool(QStringLiteral("dev_update"), on); });
    connect(btnMove_, &QPushButton::clicked, this, [this] { btnMoveClick(); });
    connect(btnUnbind_, &QPushButton::clicked, this, [this] { btnUnbindClick(); });
    return page;
}

QWidget* TFrmPreference::BuildProxyTab()
{
    auto* page = new QWidget;
    cbUseProxy_ = new QCheckBox(QStringLiteral("使用代理伺服器"), page);
    txtServer_ = new QLineEdit(page);
    txtPort_ = new QLineEdit(page);
    txtPort_->setMaxLength(5);
    auto* server = new QHBoxLayout;
    server->addWidget(new QLabel(QStringLiteral("http://"), page));
    server->addWidget(txtServer_, 1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("伺服器:"), server);
    form->addRow(QStringLiteral("通訊埠:"), txtPort_);
    btnTestProxy_ = new QPushButton(QStringLiteral("測試"), page);
    btnTestProxy_->setAutoDefault(false);
    auto* test = new QHBoxLayout;
    test->addWidget(new QLabel(QStringLiteral("僅支援 HTTP 代理伺服器"), page), 1);
    test->addWidget(btnTestProxy_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(cbUseProxy_);
    layout->addLayout(form);
    layout->addLayout(test);
    layout->addStretch();

    connect(cbUseProxy_, &QCheckBox::clicked, this, [this] { EnableApply(); });
    connect(txtServer_, &QLineEdit::textEdited, this, [this] { EnableApply(); });
    connect(txtPort_, &QLineEdit::textEdited, this, [this] { EnableApply(); });
    connect(btnTestProxy_, &QPushButton::clicked, this, [this] { btnTestProxyClick(); });
    return page;
}

QWidget* TFrmPreference::BuildBandwidthTab()
{
    auto* page = new QWidget;
    auto rateGroup = [this, page](const QString& title, QRadioButton*& unlimited, QRadioButton*& limited,
                                  QLineEdit*& edit, const QString& value) {
        auto* group = new QGroupBox(title, page);
        unlimited = new QRadioButton(QStringLiteral("不限"), group);
        limited = new QRadioButton(QStringLiteral("限制為"), group);
        edit = new QLineEdit(value, group);
        unlimited->setChecked(true);
        auto* grid = new QGridLayout(group);
        grid->addWidget(unlimited, 0, 0, 1, 3);
        grid->addWidget(limited, 1, 0);
        grid->addWidget(edit, 1, 1);
        grid->addWidget(new QLabel(QStringLiteral("KB/s"), group), 1, 2);
        grid->setColumnStretch(1, 1);
        connect(unlimited, &QRadioButton::clicked, this, [this] { EnableApply(); });
        connect(limited, &QRadioButton::clicked, this, [this] { EnableApply(); });
        connect(edit, &QLineEdit::textEdited, this, [this, limited] {
            EnableApply();
            limited->setChecked(true);
        });
        return group;
    };
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(rateGroup(QStringLiteral("下載速率"), rbDLUnlimit_, rbDLLimit_, edtDL_, QStringLiteral("50")));
    layout->addWidget(rateGroup(QStringLiteral("上傳速率"), rbULUnlimit_, rbULLimit_, edtUL_, QStringLiteral("10")));
    layout->addStretch();
    return page;
}

QWidget* TFrmPreference::BuildLinksTab()
{
    auto* page = new QWidget;
    lvLinks_ = new QTreeWidget(page);
    lvLinks_->setColumnCount(2);
    lvLinks_->setHeaderLabels({QStringLiteral("順序"), QStringLiteral("路徑")});
    lvLinks_->setRootIsDecorated(false);
    lvLinks_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvLinks_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvLinks_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvLinks_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    edtLinkPath_ = new QLineEdit(page);
    btnLinkBrowse_ = new QPushButton(QStringLiteral("瀏覽"), page);
    btnLinkAdd_ = new QPushButton(QStringLiteral("新增"), page);
    btnLinkUpdate_ = new QPushButton(QStringLiteral("更新"), page);
    btnLinkDelete_ = new QPushButton(QStringLiteral("刪除"), page);
    for (QPushButton* button : {btnLinkBrowse_, btnLinkAdd_, btnLinkUpdate_, btnLinkDelete_})
        button->setAutoDefault(false);
    auto* path = new QHBoxLayout;
    path->addWidget(new QLabel(QStringLiteral("目錄:"), page));
    path->addWidget(edtLinkPath_, 1);
    path->addWidget(btnLinkBrowse_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnLinkAdd_);
    buttons->addWidget(btnLinkUpdate_);
    buttons->addWidget(btnLinkDelete_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lvLinks_, 1);
    layout->addLayout(path);
    layout->addLayout(buttons);

    connect(lvLinks_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { lvLinksSelectItem(item); });
    connect(btnLinkBrowse_, &QPushButton::clicked, this, [this] { btnLinkBrowseClick(); });
    connect(btnLinkAdd_, &QPushButton::clicked, this, [this] { btnLinkAddClick(); });
    connect(btnLinkUpdate_, &QPushButton::clicked, this, [this] { btnLinkUpdateClick(); });
    connect(btnLinkDelete_, &QPushButton::clicked, this, [this] { btnLinkDeleteClick(); });
    return page;
}

// ---- Showing ------------------------------------------------------------------------------

void TFrmPreference::ShowAt(int page)
{
    setWindowModality(Qt::ApplicationModal);
    FormShow();
    if (page >= 0 && page < tabs_->count())
        tabs_->setCurrentIndex(page);
    show();
    raise();
    activateWindow();
}

void TFrmPreference::ReadCaptions()
{
    PeltaReg& reg = control_.Reg();
    setWindowTitle(AppName() + T(XText::_ML0601) + reg.AgentVer());
    gbFolderPath_->setTitle(T(XText::_ML0602));
    gbAccount_->setTitle(QStringLiteral("帳號資訊"));
    if (!reg.bound) {
        lblAccountInfo_->setText(T(XText::_ML0607) + AppName());
    } else if (!reg.account_valid) {
        lblAccountInfo_->setText(T(XText::_ML0606));
    } else {
        lblAccountInfo_->setText(FormatText(T(XText::_ML0604), {reg.GetLogin()}));
        gbAccount_->setTitle(FormatText(T(XText::_ML0605), {reg.GetAgentName()}));
    }
}

void TFrmPreference::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ReadCaptions();
    QDialog::changeEvent(event);
}

void TFrmPreference::FormShow()
{
    loading_ = true;
    PeltaReg& reg = control_.Reg();
    ReadCaptions();
    btnUnbind_->setEnabled(false);
    btnMove_->setEnabled(false);
    shownFolder_ = SettingOf(control_, "sync_folder");
    if (reg.bound && reg.account_valid) {
        btnMove_->setEnabled(true);
        btnUnbind_->setEnabled(true);
        control_.CreateShortcuts(reg.GetSyncFolder());
    }
    txtFolderPath_->setText(reg.GetSyncFolder());
    cbShowMessage_->setChecked(SettingOf(control_, "show_desktop_notify") == QLatin1String("1"));
    cbAutoStart_->setChecked(SettingOf(control_, "auto_start") == QLatin1String("1"));
    const PeltaProxy proxy = reg.Proxy();
    txtServer_->setText(proxy.server);
    txtPort_->setText(QString::number(proxy.port));
    cbUseProxy_->setChecked(proxy.enable);
    cbUpdateDev_->setVisible(DebugMode.load());
    cbUpdateDev_->setChecked(SettingOf(control_, "dev_update") == QLatin1String("1"));
    edtDL_->setText(SettingOf(control_, "bw_download"));
    edtUL_->setText(SettingOf(control_, "bw_upload"));
    (SettingOf(control_, "bw_download_limit") == QLatin1String("0") ? rbDLUnlimit_ : rbDLLimit_)->setChecked(true);
    (SettingOf(control_, "bw_upload_limit") == QLatin1String("0") ? rbULUnlimit_ : rbULLimit_)->setChecked(true);
    DisableApply();
    LinksLoad();
    LinksResetBtn(0);
    loading_ = false;
}

void TFrmPreference::EnableApply()
{
    if (!loading_ && !btnApply_->isEnabled())
        btnApply_->setEnabled(true);
}

void TFrmPreference::DisableApply()
{
    btnApply_->setEnabled(false);
}

// ---- Saving -------------------------------------------------------------------------------

void TFrmPreference::btnOKClick()
{
    if (Save())
        accept();
}

void TFrmPreference::btnApplyClick()
{
    if (Save())
        DisableApply();
}

bool TFrmPreference::Save()
{
    if (tabs_->currentIndex() == PreferenceFields::LinksTab) {
        LinksSave();
        return true;
    }
    return ApplySettings();
}

bool TFrmPreference::ApplySettings()
{
    const PreferenceFields::Outcome outcome =
        PreferenceFields::Check({edtUL_->text(), edtDL_->text(), txtServer_->text(), txtPort_->text()});
    if (!outcome.valid) {
        tabs_->setCurrentIndex(outcome.tab);
        prompter_.Tell(this, outcome.message);
        return false;
    }
    PeltaReg& reg = control_.Reg();
    if (outcome.values.proxyGiven) {
        PeltaProxy proxy = reg.Proxy();
        proxy.server = outcome.values.proxyServer;
        proxy.port = outcome.values.proxyPort;
        proxy.type = 1;
        proxy.enable = cbUseProxy_->isChecked();
        reg.SetProxy(proxy);
        reg.ProxyToSetting(control_.Settings());
        reg.SaveProxy();
        control_.ApplyProxy();
    }
    control_.SetSettingBool(QStringLiteral("bw_upload_limit"), rbULLimit_->isChecked());
    control_.SetSettingBool(QStringLiteral("bw_download_limit"), rbDLLimit_->isChecked());
    edtUL_->setText(QString::number(outcome.values.upload));
    control_.SetSetting(QStringLiteral("bw_upload"), QString::number(outcome.values.upload));
    edtDL_->setText(QString::number(outcome.values.download));
    control_.SetSetting(QStringLiteral("bw_download"), QString::number(outcome.values.download));
    control_.ApplyBandwidth();
    return true;
}

// ---- Folder, unbinding, proxy test ------------------------------------------------------------

void TFrmPreference::btnMoveClick()
{
    btnMove_->setEnabled(false);
    QString folder;
    if (chooser_.SelectSyncFolder(this, shownFolder_, control_.Reg().InstallDir(), folder) &&
        folder != shownFolder_) {
        QPointer<TFrmPreference> self(this);
        control_.ChangeSyncFolder(folder, false, [self, folder](bool changed) {
            if (!self)
                return;
            if (changed) {
                self->txtFolderPath_->setText(folder);
                self->shownFolder_ = folder;
            }
            self->btnMove_->setEnabled(true);
        });
        return;
    }
    btnMove_->setEnabled(true);
}

void TFrmPreference::btnUnbindClick()
{
    if (!prompter_.AskYesNo(nullptr, T(XText::_ML0609), T(XText::_ML0608)))
        return;
    btnUnbind_->setEnabled(false);
    btnMove_->setEnabled(false);
    lblAccountInfo_->setText(T(XText::_ML0603));
    hide();
    control_.UnbindAccount();
}

void TFrmPreference::btnTestProxyClick()
{
    if (proxyTest_)
        return;
    const QString server = txtServer_->text().trimmed();
    const auto port = PreferenceFields::ProxyPort(txtPort_->text());
    if (server.isEmpty() || !port) {
        prompter_.Tell(this, T(XText::_ML0613));
        return;
    }
    btnTestProxy_->setEnabled(false);
    const QString url = QString(CheckVersionUrl).replace(QStringLiteral("%d"), QStringLiteral("0"));
    proxyTest_ = std::make_unique<BackgroundTask>(
        QStringLiteral("ProxyTest"), [tester = proxyTester_, post = post_, self = QPointer<TFrmPreference>(this),
                                      server, port = *port, url] {
            const bool ok = tester(server, port, url);
            post->Post([self, ok] {
                if (self)
                    self->OnProxyTested(ok);
            });
        });
    proxyTest_->Start();
}

void TFrmPreference::OnProxyTested(bool ok)
{
    if (proxyTest_)
        proxyTest_->Join();
    proxyTest_.reset();
    btnTestProxy_->setEnabled(true);
    prompter_.Tell(this, T(ok ? XText::_ML0614 : XText::_ML0615));
}

// ---- Links --------------------------------------------------------------------------------

QString TFrmPreference::LinkPath(const QString& syncFolder, const QString& folder)
{
    const QString root = QDir::cleanPath(syncFolder);
    const QString path = QDir::cleanPath(folder);
    if (!root.isEmpty() && path.startsWith(root + u'/'))
        return path.mid(root.size()).replace(u'/', u'\\');
    return folder;
}

void TFrmPreference::LinksLoad()
{
    lvLinks_->clear();
    int number = 0;
    for (const QString& link : control_.Reg().GetLinks()) {
        if (!link.isEmpty())
            LinksAdd(++number, link);
    }
}

void TFrmPreference::LinksAdd(int number, const QString& path)
{
    auto* item = new QTreeWidgetItem(lvLinks_);
    item->setText(0, QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0')));
    item->setText(1, path);
}

void TFrmPreference::LinksSave()
{
    QStringList links;
    for (const QString& path : LinkPaths()) {
        if (!path.isEmpty())
            links << path;
    }
    control_.Reg().SetLinks(links);
}

QStringList TFrmPreference::LinkPaths() const
{
    QStringList paths;
    for (int i = 0; i < lvLinks_->topLevelItemCount(); ++i)
        paths << lvLinks_->topLevelItem(i)->text(1);
    return paths;
}

QStringList TFrmPreference::LinkNumbers() const
{
    QStringList numbers;
    for (int i = 0; i < lvLinks_->topLevelItemCount(); ++i)
        numbers << lvLinks_->topLevelItem(i)->text(0);
    return numbers;
}

bool TFrmPreference::LinksExists(const QString& path) const
{
    for (const QString& existing : LinkPaths()) {
        if (existing.compare(path, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TFrmPreference::LinksRefresh()
{
    for (int i = 0; i < lvLinks_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvLinks_->topLevelItem(i);
        const QString number = QString::number(i + 1);
        if (item->text(0) != number)
            item->setText(0, number);
    }
}

void TFrmPreference::LinksResetBtn(int mode)
{
    btnLinkAdd_->setEnabled(mode == 1);
    btnLinkUpdate_->setEnabled(mode == 2);
    btnLinkDelete_->setEnabled(mode == 2);
    if (mode != 1 && mode != 2)
        edtLinkPath_->clear();
}

void TFrmPreference::lvLinksSelectItem(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const QString path = item->text(1);
    if (QFileInfo(LinkFolder(shownFolder_, path)).isDir())
        edtLinkPath_->setText(path);
    LinksResetBtn(2);
}

void TFrmPreference::btnLinkBrowseClick()
{
    QTreeWidgetItem* selected = lvLinks_->currentItem();
    QString folder;
    if (chooser_.SelectFolder(this, shownFolder_, folder, FolderChooser::ExistingFolderMode) &&
        folder != shownFolder_)
        edtLinkPath_->setText(LinkPath(shownFolder_, folder));
    if (!selected) {
        LinksResetBtn(1);
        return;
    }
    lvLinks_->setCurrentItem(selected);
    LinksResetBtn(2);
}

void TFrmPreference::btnLinkAddClick()
{
    const QString path = edtLinkPath_->text();
    if (path.isEmpty()) {
        prompter_.Tell(this, T(XText::_ML0612));
        return;
    }
    if (LinksExists(path)) {
        prompter_.Tell(this, FormatText(T(XText::_ML0611), {path}));
        return;
    }
    LinksAdd(lvLinks_->topLevelItemCount() + 1, path);
    EnableApply();
    LinksResetBtn(0);
}

void TFrmPreference::btnLinkUpdateClick()
{
    QTreeWidgetItem* selected = lvLinks_->currentItem();
    if (!selected) {
        btnLinkAddClick();
        return;
    }
    const QString path = edtLinkPath_->text();
    if (LinksExists(path)) {
        prompter_.Tell(this, FormatText(T(XText::_ML0611), {path}));
        return;
    }
    if (path.isEmpty()) {
        prompter_.Tell(this, T(XText::_ML0612));
        return;
    }
    if (selected->text(1).compare(path, Qt::CaseInsensitive) != 0)
        selected->setText(1, path);
    EnableApply();
    LinksResetBtn(0);
}

void TFrmPreference::btnLinkDeleteClick()
{
    QTreeWidgetItem* selected = lvLinks_->currentItem();
    if (selected)
        std::unique_ptr<QTreeWidgetItem>(lvLinks_->takeTopLevelItem(lvLinks_->indexOfTopLevelItem(selected)));
    LinksRefresh();
    LinksResetBtn(0);
    EnableApply();
}
