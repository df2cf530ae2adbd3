#include "shell/windows/WindowLogin.h"

#include "shell/control/TFrmControl.h"
#include "shell/control/UiThreadPost.h"

#include "client/PeltaLoginThread.h"
#include "client/XApLogin.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"

WindowLogin::WindowLogin(TFrmControl& control, QObject* receiver)
    : control_(control), receiver_(receiver), post_(std::make_shared<UiThreadPost>(receiver))
{
}

WindowLogin::~WindowLogin()
{
    post_->Close();
    if (thread_)
        thread_->StopAndJoin();
}

bool WindowLogin::Start(const QString& login, const QString& password, Result result)
{
    if (!thread_) {
        client_ = std::make_unique<XApLogin>();
        const DebugFile& debug = control_.Debug();
        if (!debug.accountServer.isEmpty())
            client_->SetAccountUrls(debug.MemberTokenUrl(), debug.ClientAuthUrl());
        thread_ = std::make_unique<PeltaLoginThread>(client_.get(), trigger_);
        thread_->Start();
    }
    XAPPState state = AppState.load();
    while (state != XAPPExit && !AppState.compare_exchange_weak(state, XAPPLogin)) {
    }
    PeltaLoginThread::Credentials credentials;
    credentials.callback = [post = post_, receiver = receiver_, result = std::move(result)](int code,
                                                                                           const QString& message) {
        post->Post([receiver, result, code, message] {
            if (receiver)
                result(code, message);
        });
    };
    credentials.login = login;
    credentials.password = password;
    credentials.store = &control_.Settings();
    credentials.facade = &control_.Reg();
    if (!thread_->RequestLogin(std::move(credentials))) {
        AppLog.Write(QStringLiteral("WindowLogin: a sign-in runs already"), LogGeneral);
        return false;
    }
    return true;
}

void WindowLogin::Abort()
{
    if (client_ && Busy()) {
        AppLog.Write(QStringLiteral("WindowLogin: the sign-in is stopped by the user"), LogGeneral);
        client_->Abort();
    }
}

bool WindowLogin::Busy() const
{
    return thread_ && thread_->Busy();
}
