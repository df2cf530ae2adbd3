#pragma once

// The debug log window: shows the process log's lines as the log thread
// hands them over, lets the developer choose the log categories, freeze,
// clear, copy and save the display, and offers a few debug actions. The
// display keeps at most MaxLines lines (older ones drop off) and is saved to
// the window's log file and cleared every MaxCalls additions.
//
// Needs no running engine: the request count opens the local store itself.
// The service is asked through the control form, which runs the call on its
// service-call thread and hands the answer back to this thread; the push
// channel is stopped through the control form too.
//
// User-interface thread only.

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TFrmControl;

class TFrmLog : public QDialog {
    Q_OBJECT

public:
    static constexpr int MaxCalls = 1000;
    static constexpr int MaxLines = 20000;

    // logFile: where SaveLog appends the display.
    TFrmLog(TFrmControl& control, QString logFile, QWidget* parent = nullptr);

    // Adds a text taken from the log buffer (see the class comment).
    void AddLog(const QString& text);
    // Appends the display to the log file and clears it; opens the file
    // afterwards when open is set. False when there is no log file.
    bool SaveLog(bool open);
    // Counts the open requests into the "Queue Count" caption.
    void QueueCount();
    void ClearLog();

    void SetShown(bool shown) { shown_ = shown; }
    bool Shown() const { return shown_; }
    bool Frozen() const { return frozen_; }
    int Calls() const { return calls_; }
    QStringList Lines() const;
    const QString& LogFile() const { return logFile_; }
    QPushButton* Button(const QString& name) const;
    QCheckBox* CategoryBox(const QString& name) const;
    QPlainTextEdit* Display() const { return memo_; }

    // Asks for the metadata of the test folder and shows the answer.
    void TestMetadata();
    // Lets the developer choose a folder of the sync folder and shows its
    // metadata.
    void ShowFolderMetadata();
    // Stops the push channel for good and disables its button.
    void StopPushChannel();
    // The window's caption; again when the language changes.
    void ReadCaptions();

    // Opens a file with its associated program (tests replace it).
    void SetFileOpener(std::function<void(const QString&)> opener) { openFile_ = std::move(opener); }
    // Asks for a folder: (parent, title, start folder) -> the folder, empty
    // when none was chosen (tests replace it).
    using FolderBrowser = std::function<QString(QWidget*, const QString&, const QString&)>;
    void SetFolderBrowser(FolderBrowser browser) { browseFolder_ = std::move(browser); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPushButton* AddButton(const QString& name, const QString& caption, bool visible);
    void AddCategory(const QString& name, const QString& caption, int bit);
    void ToggleFreeze();
    void ShowListing(const QString& reply);

    TFrmControl& control_;
    const QString logFile_;
    std::function<void(const QString&)> openFile_;
    FolderBrowser browseFolder_;
    int calls_ = 0;
    bool shown_ = false;
    bool frozen_ = false;
    QPlainTextEdit* memo_ = nullptr;
    QWidget* buttons_ = nullptr;
};
