#pragma once

// The tray's five icons and the balloon icon, drawn at start: 0 idle,
// 1 offline, 2 in sync, 3 and 4 synchronising, and the program's own.

#include <QIcon>

#include <array>

class TrayIcons {
public:
    static constexpr int Count = 5;

    TrayIcons();

    const QIcon& Icon(int index) const;
    const QIcon& Main() const { return main_; }

private:
    std::array<QIcon, Count> icons_;
    QIcon main_;
};
