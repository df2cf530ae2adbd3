#include "shell/update/UpdateChecker.h"

#include "shell/control/TFrmControl.h"
#include "shell/control/UiThreadPost.h"
#include "shell/windows/Prompter.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"
#include "platform/RegistryStore.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>

namespace {

QString T(XText name)
{
    return Xi18n::Text(name);
}

const QString DefaultBaseInstall = QStringLiteral("0.8.116");

}  // namespace

UpdateChecker::UpdateChecker(TFrmControl& control, Prompter& prompter, Options options)
    : control_(control), prompter_(prompter), options_(std::move(options)),
      post_(std::make_shared<UiThreadPost>(this))
{
    if (options_.listUrl.isEmpty())
        options_.listUrl = ListUrl(control.Debug().updateServer);
    if (options_.updateFolder.isEmpty())
        options_.updateFolder = control.Reg().ProgramFolder() + QStringLiteral("/update");
    if (!options_.starter) {
        options_.starter = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    }
}

UpdateChecker::~UpdateChecker()
{
    post_->Close();
    thread_.reset();
}

QString UpdateChecker::ListUrl(const QString& updateServer)
{
    if (updateServer.isEmpty())
        return CheckVersionUrl;
    const int hostStart = CheckVersionUrl.indexOf(QStringLiteral("://")) + 3;
    const int pathStart = CheckVersionUrl.indexOf(u'/', hostStart);
    QString server = updateServer;
    while (server.endsWith(u'/'))
        server.chop(1);
    return server + CheckVersionUrl.mid(pathStart);
}

bool UpdateChecker::Running() const
{
    return thread_ && thread_->Running();
}

bool UpdateChecker::Start(bool reportNone)
{
    if (Running()) {
        AppLog.Write(QStringLiteral("UpdateChecker: a version check runs already; no second one starts"),
                     LogGeneral);
        return false;
    }
    thread_.reset();
    PeltaReg& reg = control_.Reg();
    PeltaCheckVersionThread::Setup setup;
    setup.updateFolder = options_.updateFolder;
    setup.runningVersion3 = reg.GetFileVersion(QString(), 3);
    setup.runningVersion4 = reg.GetFileVersion(QString(), 4);
    setup.baseInstallVersion =
        RegistryStore::Shared().ReadString(ProgramRegKey, QStringLiteral("BaseInstall")).value_or(DefaultBaseInstall);
    setup.dev = DevUpdate.load();
    setup.reportNone = reportNone;
    setup.http.listUrl = options_.listUrl;
    setup.http.caFile = options_.caFile;
    setup.callback = [post = post_, self = QPointer<UpdateChecker>(this)](const QString& type, const QString& version) {
        post->Post([self, type, version] {
            if (self)
                self->OnReported(type, version);
        });
    };
    thread_ = std::make_unique<PeltaCheckVersionThread>(std::move(setup));
    return thread_->Start();
}

void UpdateChecker::OnReported(const QString& type, const QString& version)
{
    const QString app = T(XText::_APPName);
    if (type.isEmpty()) {
        prompter_.Tell(nullptr, T(XText::_ML0307));
    } else if (type == QLatin1String("Failed")) {
        prompter_.Tell(nullptr, T(XText::_ML0308));
    } else if (type == QLatin1String("Notice")) {
        prompter_.Tell(nullptr, QStringLiteral("%1 新版本(%2)已經推出，但無法安全下載，請至網站下載更新").arg(app, version));
    } else if (type.compare(QLatin1String("BaseInstall"), Qt::CaseInsensitive) == 0) {
        prompter_.Tell(nullptr, FormatText(T(XText::_ML0316), {app, version}));
    } else if (type.compare(QLatin1String("Tessaron"), Qt::CaseInsensitive) == 0 ||
               type.compare(QLatin1String("Tessaron.dev"), Qt::CaseInsensitive) == 0) {
        const bool dev = type.compare(QLatin1String("Tessaron.dev"), Qt::CaseInsensitive) == 0;
        if (prompter_.AskYesNo(nullptr, app, FormatText(T(dev ? XText::_ML0306 : XText::_ML0305), {app, version})))
            StartUpdater(dev);
    }
}

void UpdateChecker::StartUpdater(bool dev)
{
    QString updater = options_.updateFolder + QStringLiteral("/Updater.exe");
    if (!QFileInfo(updater).isFile())
        updater = control_.Reg().UpdaterPath();
    if (!QFileInfo(updater).isFile() ||
        !options_.starter(updater, {dev ? QStringLiteral("/updatedev") : QStringLiteral("/update")})) {
        prompter_.Tell(nullptr, FormatText(T(XText::_ML0317), {T(XText::_APPName)}));
        return;
    }
    AppLog.Write(QStringLiteral("UpdateChecker: the updater runs; the agent ends"), LogGeneral);
    control_.GotoStep(XGOExit);
}
