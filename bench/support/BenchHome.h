#pragma once

// A temporary home for a benchmark program: the data folder, the home and
// the configuration folder are pointed below a fresh temporary folder
// (TESSARON_HOME, HOME, XDG_CONFIG_HOME) and the process state is set up
// over them. The folder goes with the object.

#include <QString>
#include <QTemporaryDir>

class BenchHome {
public:
    BenchHome();

    // False when no temporary folder could be made.
    bool IsValid() const { return dir_.isValid(); }
    QString Path() const { return dir_.path(); }
    QString FilePath(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir& Dir() { return dir_; }

private:
    QTemporaryDir dir_;
};
