#include "shell/windows/TFrmLog.h"

#include "shell/control/TFrmControl.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBlock>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString QueueCountSql = QStringLiteral(
    "select count(*) from sync_request where status in (1, 3, 5, 7, 6) and  commit_time is null");

// The folder the "Test" button asks about, with its recycled items.
const QString TestFolder = QStringLiteral("/t39");
const QString FolderBrowserTitle = QStringLiteral("請選擇查詢Metadata目錄");

bool TrailingJunk(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control;
}

// The relative path ("\" the sync folder itself) of a folder inside the sync
// folder; empty for one outside it.
QString RelativePath(const QString& syncFolder, const QString& folder)
{
    const QString root = QDir::cleanPath(syncFolder);
    const QString path = QDir::cleanPath(folder);
    if (root.isEmpty() || path.isEmpty())
        return QString();
    if (path == root)
        return QStringLiteral("\\");
    if (!path.startsWith(root + u'/'))
        return QString();
    return QStringLiteral("\\") + path.mid(root.size() + 1).replace(u'/', u'\\');
}

// An entry's path in the service's "/" form.
QString EntryPath(const QJsonObject& entry)
{
    const QString folder = entry.value(QStringLiteral("path")).toString();
    const QString name = entry.value(QStringLiteral("name")).toString();
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

}  // namespace

TFrmLog::TFrmLog(TFrmControl& control, QString logFile, QWidget* parent)
    : QDialog(parent), control_(control), logFile_(std::move(logFile)),
      openFile_([](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }),
      browseFolder_([](QWidget* parent, const QString& title, const QString& start) {
          return QFileDialog::getExistingDirectory(parent, title, start);
      })
{
    setObjectName(QStringLiteral("FrmLog"));
    setWindowTitle(QStringLiteral("FrmLog"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    memo_ = new QPlainTextEdit(this);
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setMaximumBlockCount(MaxLines);
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("This form will show in debug mode"), this));
    left->addWidget(memo_, 1);

    buttons_ = new QWidget(this);
    auto* right = new QVBoxLayout(buttons_);
    right->setContentsMargins(0, 0, 0, 0);
    AddButton(QStringLiteral("btnExit"), QStringLiteral("Exit Program"), true);
    AddButton(QStringLiteral("btnClear"), QStringLiteral("Clear Log"), true);
    AddButton(QStringLiteral("btnSyncFolder"), QStringLiteral("Sync Folder"), true);
    AddButton(QStringLiteral("btnGetMetadata"), QStringLiteral("getMetadata"), false);
    AddButton(QStringLiteral("btnReqQueue"), QStringLiteral("Req Queue"), false);
    AddButton(QStringLiteral("btnSyncJournal"), QStringLiteral("getSyncJournal"), true);
    AddButton(QStringLiteral("btnTrayIconMsg"), QStringLiteral("TrayIconMsg"), false);
    AddButton(QStringLiteral("btnQueueCount"), QStringLiteral("Queue Count"), true);
    AddButton(QStringLiteral("btnTest"), QStringLiteral("Test"), true);
    AddButton(QStringLiteral("btnCopyLog"), QStringLiteral("CopyLog"), true);
    AddButton(QStringLiteral("btnLogin"), QStringLiteral("Login"), false);
    AddButton(QStringLiteral("btnPreference"), QStringLiteral("Preference"), true);
    AddButton(QStringLiteral("btnResyncRemote"), QStringLiteral("ReSyncRemote"), false);
    AddButton(QStringLiteral("btnFreeze"), QStringLiteral("Log Freeze"), true);
    AddButton(QStringLiteral("btnFileSync"), QStringLiteral("FileSync"), false);
    AddButton(QStringLiteral("btnStopApe"), QStringLiteral("Stop APE"), true)
        ->setEnabled(control_.PushChannelAllowed());
    AddCategory(QStringLiteral("cbLogAPE"), QStringLiteral("APE"), LogAPE);
    AddCategory(QStringLiteral("cbLogMonitor"), QStringLiteral("File Monitor"), LogMonitor);
    AddCategory(QStringLiteral("cbLogHTTP"), QStringLiteral("HTTP"), LogHTTP);
    AddCategory(QStringLiteral("cbLogDebug"), QStringLiteral("Debug"), LogDebug);
    AddCategory(QStringLiteral("cbLogQueue"), QStringLiteral("Queue"), LogQueue);
    AddCategory(QStringLiteral("cbLogEvent"), QStringLiteral("Event"), LogEvent);
    AddCategory(QStringLiteral("cbLogIcon"), QStringLiteral("Icon"), LogIcon);
    auto* english = new QCheckBox(QStringLiteral("Eng UI"), buttons_);
    english->setObjectName(QStringLiteral("CheckBox2"));
    right->addWidget(english);
    right->addStretch();
    connect(english, &QCheckBox::clicked, this, [this](bool on) { control_.SwitchLanguage(on ? 1033 : 1028); });

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(buttons_);

    auto on = [this](const char* name, auto action) {
        connect(Button(QString::fromLatin1(name)), &QPushButton::clicked, this, action);
    };
    on("btnExit", [this] { control_.GotoStep(XGOExit); });
    on("btnClear", [this] { ClearLog(); });
    on("btnSyncFolder", [this] { control_.OpenSyncFolder(); });
    on("btnGetMetadata", [this] { ShowFolderMetadata(); });
    on("btnReqQueue", [this] {
        AddLog(QStringLiteral("SetEvent:evtRequestQueue"));
        evtRequestQueue.Set();
    });
    on("btnSyncJournal", [] { evtRequestSyncJournal.Set(); });
    on("btnTrayIconMsg", [this] {
        AddLog(QStringLiteral("SetEvent:evtTrayIconMsn"));
        evtTrayIconMsn.Set();
    });
    on("btnQueueCount", [this] { QueueCount(); });
    on("btnTest", [this] { TestMetadata(); });
    on("btnCopyLog", [this] {
        memo_->selectAll();
        memo_->copy();
    });
    on("btnLogin", [this] { control_.GotoStep(XGOSplash); });
    on("btnPreference", [this] { control_.miConfigClick(); });
    on("btnResyncRemote", [this] { control_.ResyncRemote(); });
    on("btnFreeze", [this] { ToggleFreeze(); });
    on("btnFileSync", [this] {
        AddLog(QStringLiteral("SetEvent:evtFSQueue"));
        AddLog(QStringLiteral("SetEvent:evtFSFinalQueue"));
        evtFSQueue.Set();
        evtFSFinalQueue.Set();
    });
    on("btnStopApe", [this] { StopPushChannel(); });
}

QPushButton* TFrmLog::AddButton(const QString& name, const QString& caption, bool visible)
{
    auto* button = new QPushButton(caption, buttons_);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setVisible(visible);
    static_cast<QVBoxLayout*>(buttons_->layout())->addWidget(button);
    return button;
}

void TFrmLog::AddCategory(const QString& name, const QString& caption, int bit)
{
    auto* box = new QCheckBox(caption, buttons_);
    box->setObjectName(name);
    box->setChecked((LogMask.load() & bit) != 0);
    static_cast<QVBoxLayout*>(buttons_->layout())->addWidget(box);
    connect(box, &QCheckBox::clicked, this, [bit](bool on) {
        if (on)
            LogMask.fetch_or(bit);
        else
            LogMask.fetch_and(~bit);
    });
}

QPushButton* TFrmLog::Button(const QString& name) const
{
    return buttons_->findChild<QPushButton*>(name);
}

QCheckBox* TFrmLog::CategoryBox(const QString& name) const
{
    return buttons_->findChild<QCheckBox*>(name);
}

void TFrmLog::ReadCaptions()
{
    setWindowTitle(QStringLiteral("FrmLog Version:") + control_.Reg().AgentVer() + u' ' + ServerProfile);
}

void TFrmLog::showEvent(QShowEvent* event)
{
    ReadCaptions();
    shown_ = true;
    QDialog::showEvent(event);
}

void TFrmLog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ReadCaptions();
    QDialog::changeEvent(event);
}

void TFrmLog::closeEvent(QCloseEvent* event)
{
    shown_ = false;
    QDialog::closeEvent(event);
}

void TFrmLog::ToggleFreeze()
{
    frozen_ = !frozen_;
    QPushButton* button = Button(QStringLiteral("btnFreeze"));
    button->setText(frozen_ ? QStringLiteral("Log Resume") : QStringLiteral("Log Freeze"));
    button->setStyleSheet(frozen_ ? QStringLiteral("color: red") : QString());
}

void TFrmLog::AddLog(const QString& text)
{
    if (frozen_)
        return;
    if (++calls_ > MaxCalls) {
        if (DebugMode.load())
            SaveLog(false);
        calls_ = 0;
        memo_->clear();
    }
    qsizetype end = text.size();
    while (end > 0 && TrailingJunk(text[end - 1]))
        --end;
    if (end == 0)
        return;
    const bool blankAfter = text.endsWith(QStringLiteral("\n\n"));
    for (const QString& segment : text.left(end).split(u'\n')) {
        QString line = segment;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.isEmpty())
            memo_->appendPlainText(line);
    }
    if (blankAfter)
        memo_->appendPlainText(QStringLiteral(" "));
}

QStringList TFrmLog::Lines() const
{
    QStringList lines;
    for (QTextBlock block = memo_->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    if (lines.size() == 1 && lines.front().isEmpty())
        return {};
    return lines;
}

void TFrmLog::ClearLog()
{
    memo_->clear();
}

bool TFrmLog::SaveLog(bool open)
{
    if (logFile_.isEmpty())
        return false;
    const QStringList lines = Lines();
    QFile file(logFile_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (!lines.isEmpty() && file.write((lines.join(u'\n') + u'\n').toUtf8()) < 0)
            AppLog.Write(QStringLiteral("FrmLog: the display could not be written to ") + logFile_, LogGeneral);
        file.close();
    } else {
        AppLog.Write(QStringLiteral("FrmLog: the log file cannot be opened: ") + logFile_, LogGeneral);
    }
    memo_->clear();
    if (open && QFileInfo::exists(logFile_) && openFile_)
        openFile_(logFile_);
    return true;
}

void TFrmLog::QueueCount()
{
    QString count = QStringLiteral("0");
    try {
        PeltaDb db(control_.Settings());
        const QString value = db.QueryValue(QueueCountSql, QStringLiteral("count(*)"));
        if (!value.isEmpty())
            count = value;
    } catch (const Lithos::SQLiteException& failure) {
        AppLog.Write(QStringLiteral("FrmLog: the open requests cannot be counted: ") +
                         PeltaSQLite3::FormatSQLiteException(failure),
                     LogDB);
    }
    Button(QStringLiteral("btnQueueCount"))->setText(QStringLiteral("Queue(") + count + u')');
}

void TFrmLog::TestMetadata()
{
    control_.QueryMetadata(TestFolder, 1, true, [self = QPointer<TFrmLog>(this)](bool ok, const QString& reply) {
        if (self && ok)
            self->AddLog(reply);
    });
}

void TFrmLog::ShowFolderMetadata()
{
    const QString syncFolder = control_.Reg().GetSyncFolder();
    const QString chosen = browseFolder_ ? browseFolder_(this, FolderBrowserTitle, syncFolder) : QString();
    if (chosen.isEmpty())
        return;
    const QString relative = RelativePath(syncFolder, chosen);
    if (relative.isEmpty()) {
        AddLog(QStringLiteral("getMetadata: not a folder of the sync folder: ") + chosen);
        return;
    }
    AddLog(QStringLiteral("Path=") + relative);
    control_.QueryMetadata(relative, 1, false, [self = QPointer<TFrmLog>(this)](bool ok, const QString& reply) {
        if (!self)
            return;
        if (!ok) {
            self->AddLog(QStringLiteral("getMetadata failed: ") + reply);
            return;
        }
        self->ShowListing(reply);
    });
}

void TFrmLog::ShowListing(const QString& reply)
{
    const QJsonObject metadata =
        QJsonDocument::fromJson(reply.toUtf8()).object().value(QStringLiteral("metadata")).toObject();
    const QJsonArray folders = metadata.value(QStringLiteral("folder")).toArray();
    const QJsonArray files = metadata.value(QStringLiteral("file")).toArray();
    AddLog(QStringLiteral("folder=") + QString::fromUtf8(QJsonDocument(folders).toJson(QJsonDocument::Compact)));
    AddLog(QStringLiteral("file=") + QString::fromUtf8(QJsonDocument(files).toJson(QJsonDocument::Compact)));
    for (const QJsonValue& folder : folders)
        AddLog(QStringLiteral("D:") + EntryPath(folder.toObject()));
    for (const QJsonValue& file : files)
        AddLog(QStringLiteral("F:") + EntryPath(file.toObject()));
}

void TFrmLog::StopPushChannel()
{
    control_.StopPushChannel();
    Button(QStringLiteral("btnStopApe"))->setEnabled(false);
}
