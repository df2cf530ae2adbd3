#pragma once

// The preferences window: the general switches and the account binding, the
// proxy, the bandwidth limits and the list of custom folder links, with OK,
// Cancel and Apply. The general tab's switches, the folder move and the
// unbinding act at once; the proxy and bandwidth act on OK or Apply, the
// links on OK or Apply while their tab is in front. Every typed field is
// checked before anything is saved: a refused field brings its tab to the
// front with a message, the window stays open and nothing is saved.
//
// Needs no running engine: the unbinding goes through the control form,
// which opens the local store when it needs it.
//
// User-interface thread only; the proxy test runs on its own thread.

#include "shell/windows/PreferenceFields.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class BackgroundTask;
class FolderChooser;
class Prompter;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TFrmControl;
class UiThreadPost;

class TFrmPreference : public QDialog {
    Q_OBJECT

public:
    // Tries the typed proxy (server, port, address); any thread.
    using ProxyTester = std::function<bool(const QString& server, int port, const QString& url)>;

    TFrmPreference(TFrmControl& control, Prompter& prompter, FolderChooser& chooser, QWidget* parent = nullptr);
    ~TFrmPreference() override;

    // Shows the window at a tab, modal to the application, without a nested
    // event loop.
    void ShowAt(int page);
    void SetProxyTester(ProxyTester tester) { proxyTester_ = std::move(tester); }

    // Handlers.
    void FormShow();
    // The captions taken from the texts; again when the language changes.
    void ReadCaptions();
    void btnOKClick();
    void btnApplyClick();
    void btnMoveClick();
    void btnUnbindClick();
    void btnTestProxyClick();
    void btnLinkBrowseClick();
    void btnLinkAddClick();
    void btnLinkUpdateClick();
    void btnLinkDeleteClick();
    void lvLinksSelectItem(QTreeWidgetItem* item);
    // Checks and saves the proxy and bandwidth tabs; false (nothing saved)
    // when a field was refused.
    bool ApplySettings();

    // The links list.
    void LinksLoad();
    void LinksSave();
    bool LinksExists(const QString& path) const;
    void LinksAdd(int number, const QString& path);
    void LinksRefresh();
    void LinksResetBtn(int mode);
    QStringList LinkPaths() const;
    QStringList LinkNumbers() const;

    // The path of a folder as the links keep it: "\"-separated relative to the
    // sync folder ("\a\b"), or the full path of a folder outside it.
    static QString LinkPath(const QString& syncFolder, const QString& folder);

    // For the tests and the screenshots.
    QTabWidget* Tabs() const { return tabs_; }
    QCheckBox* ShowMessageBox() const { return cbShowMessage_; }
    QCheckBox* AutoStartBox() const { return cbAutoStart_; }
    QLabel* AccountInfo() const { return lblAccountInfo_; }
    QPushButton* UnbindButton() const { return btnUnbind_; }
    QPushButton* MoveButton() const { return btnMove_; }
    QLineEdit* FolderPath() const { return txtFolderPath_; }
    QLineEdit* ProxyServer() const { return txtServer_; }
    QLineEdit* ProxyPort() const { return txtPort_; }
    QCheckBox* UseProxyBox() const { return cbUseProxy_; }
    QPushButton* TestProxyButton() const { return btnTestProxy_; }
    QLineEdit* DownloadEdit() const { return edtDL_; }
    QLineEdit* UploadEdit() const { return edtUL_; }
    QRadioButton* DownloadLimit() const { return rbDLLimit_; }
    QRadioButton* UploadLimit() const { return rbULLimit_; }
    QRadioButton* DownloadUnlimited() const { return rbDLUnlimit_; }
    QRadioButton* UploadUnlimited() const { return rbULUnlimit_; }
    QTreeWidget* Links() const { return lvLinks_; }
    QLineEdit* LinkPathEdit() const { return edtLinkPath_; }
    QPushButton* LinkAddButton() const { return btnLinkAdd_; }
    QPushButton* LinkUpdateButton() const { return btnLinkUpdate_; }
    QPushButton* LinkDeleteButton() const { return btnLinkDelete_; }
    QPushButton* ApplyButton() const { return btnApply_; }
    bool ProxyTestRunning() const { return proxyTest_ != nullptr; }

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* BuildGeneralTab();
    QWidget* BuildProxyTab();
    QWidget* BuildBandwidthTab();
    QWidget* BuildLinksTab();
    bool Save();
    void EnableApply();
    void DisableApply();
    void OnProxyTested(bool ok);

    TFrmControl& control_;
    Prompter& prompter_;
    FolderChooser& chooser_;
    ProxyTester proxyTester_;
    std::shared_ptr<UiThreadPost> post_;
    std::unique_ptr<BackgroundTask> proxyTest_;
    QString shownFolder_;
    bool loading_ = false;

    QTabWidget* tabs_ = nullptr;
    QCheckBox* cbShowMessage_ = nullptr;
    QCheckBox* cbAutoStart_ = nullptr;
    QCheckBox* cbUpdateDev_ = nullptr;
    QGroupBox* gbAccount_ = nullptr;
    QLabel* lblAccountInfo_ = nullptr;
    QPushButton* btnUnbind_ = nullptr;
    QGroupBox* gbFolderPath_ = nullptr;
    QLineEdit* txtFolderPath_ = nullptr;
    QPushButton* btnMove_ = nullptr;
    QLineEdit* txtServer_ = nullptr;
    QLineEdit* txtPort_ = nullptr;
    QCheckBox* cbUseProxy_ = nullptr;
    QPushButton* btnTestProxy_ = nullptr;
    QRadioButton* rbDLUnlimit_ = nullptr;
    QRadioButton* rbDLLimit_ = nullptr;
    QLineEdit* edtDL_ = nullptr;
    QRadioButton* rbULUnlimit_ = nullptr;
    QRadioButton* rbULLimit_ = nullptr;
    QLineEdit* edtUL_ = nullptr;
    QTreeWidget* lvLinks_ = nullptr;
    QLineEdit* edtLinkPath_ = nullptr;
    QPushButton* btnLinkBrowse_ = nullptr;
    QPushButton* btnLinkAdd_ = nullptr;
    QPushButton* btnLinkUpdate_ = nullptr;
    QPushButton* btnLinkDelete_ = nullptr;
    QPushButton* btnOK_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QPushButton* btnApply_ = nullptr;
};
