#pragma once

// The control form's calls of the agent interface: reading and registering
// the agent, and the agent check of the main step. They wait on the network,
// so they run on the service-call thread, never on the user-interface
// thread; the control form acts on their results there.

#include <QString>

class PeltaAPI;
class PeltaReg;
class PeltaSyncAgentSetting;

class AgentService {
public:
    // The service's message for an agent it does not know.
    static const QString NotRegisteredMessage;  // "user agent not register"

    struct Check {
        enum Result { Verified, NotRegistered, Failed };
        Result result = Failed;
        QString message;
        QString agentKey;   // the service's copy
        QString folderMd5;  // the service's copy
    };

    // None of the references is owned; all outlive the object. settings is
    // the control form's store, shared with the engine.
    AgentService(PeltaAPI& api, PeltaReg& reg, PeltaSyncAgentSetting& settings);

    // getAgentInfo into target. An agent the service does not know registers
    // itself; that counts as success with target left as it was. Any other
    // failure clears the facade's bound flag; message holds the reply or the
    // service's message.
    bool GetAgentSetting(PeltaSyncAgentSetting& target, QString& message);

    // setAgentInfo: the reply's settings are copied into the control form's
    // store, setting_time is renewed and the settings are saved.
    bool SetAgentSetting();

    // The service's side of the agent check.
    Check CheckAgent();

    // getMetadata of a folder: true with the reply when the service answered
    // with status 1, otherwise false with its message.
    bool GetMetadata(const QString& path, int recursive, bool recycle, QString& reply);

private:
    PeltaAPI& api_;
    PeltaReg& reg_;
    PeltaSyncAgentSetting& settings_;
};
