#pragma once

// Helpers of the folder-event tests: readable event texts, the shared queues
// drained and reset, and the file operations the tests perform on a
// temporary sync folder.

#include "foundation/PeltaFSQueue.h"
#include "foundation/PeltaQueue.h"

#include <QByteArray>
#include <QString>

#include <mutex>
#include <string>
#include <vector>

// "added \a", "removed \a", "modified \a", "move \a -> \b", "command 8 \".
std::string Describe(const PeltaFSQueue& event);
std::vector<std::string> Describe(const std::vector<PeltaFSQueue>& events);

// Pops everything queued, under the queue's lock.
std::vector<PeltaFSQueue> TakeAll(PeltaQueue& queue, std::mutex& lock);

// Empties the FS and final queues and resets their events.
void ResetFolderEventQueues();

// File operations below root; relative paths use "/".
class TestFolder {
public:
    explicit TestFolder(QString root) : root_(std::move(root)) {}

    const QString& Root() const { return root_; }
    QByteArray Full(const QString& relative) const;

    // Creates or truncates the file and writes each chunk with its own write.
    void Write(const QString& relative, const std::vector<QByteArray>& chunks = {"x"}) const;
    void MakeFolder(const QString& relative) const;
    void Rename(const QString& from, const QString& to) const;
    // Moves to or from a place outside root (an absolute path).
    static void RenameAbsolute(const QByteArray& from, const QByteArray& to);
    void Remove(const QString& relative) const;
    void RemoveFolder(const QString& relative) const;

private:
    QString root_;
};
