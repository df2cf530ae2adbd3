#pragma once

// Where the engine hands the notices it shows the user: the failure and
// quota balloons and the end-of-batch notice. The tray application installs
// notices that pass them to the user-interface thread without blocking;
// tests install ones that record them. Without any, notices only reach the
// log.

#include <QString>

#include <memory>

class EngineNotices {
public:
    virtual ~EngineNotices() = default;

    // A plain balloon.
    virtual void ShowBalloon(const QString& title, const QString& text) = 0;
    // A balloon whose click opens url.
    virtual void ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide, const QString& url) = 0;
    // A notice about synchronised files; a click opens target when it is not
    // empty. Shown only when desktop notices are on.
    virtual void ShowFileBalloon(const QString& title, const QString& text, const QString& target) = 0;

    // Replaces the process-wide notices (null: the log only).
    static void Install(std::shared_ptr<EngineNotices> notices);
    // The installed notices; null when none.
    static std::shared_ptr<EngineNotices> Installed();
};
