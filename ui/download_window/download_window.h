#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <initializer_list>

#include "engine/session/session_observer.h"

#include "engine/session/download_session.h"
class ElidedLabel;
class QGroupBox;
class QLabel;
class QProgressBar;
class QHBoxLayout;
class QPushButton;
class QTreeView;
class SegmentRowsModel;
class TextTable;
struct DownloadListState;
struct DownloadRecord;

// The download window: a view of one download session. It shows the record of its slot (file,
// progress, speed, times, one row per segment) and hands its buttons to the session. Once the
// file is built the session may go; the window then stays, without it, for its "open file" and
// "open folder" buttons until the user closes it.
class Kestor2 : public QWidget, public SessionObserver {
    Q_OBJECT
public:
    // Opens a file or folder with the user's default program.
    using OpenUrl = std::function<void(const QString&)>;

    Kestor2(DownloadSession& session, int slot, DownloadListState& list, const TextTable& texts,
            OpenUrl openUrl, QWidget* parent = nullptr);
    ~Kestor2() override;

    // What the session reports.
    void fileLabelChanged(const QString& text) override;
    void stateLabelChanged(const QString& text) override;
    void progressChanged() override { DoRefresh(); }
    void segmentsPlanned(int count) override;
    void segmentRowsChanged(int row) override { RefreshList(row); }
    void pauseButtonChanged(bool enabled, const QString& caption) override;
    void zipPreviewOffered(const QString& caption) override;
    bool zipPreviewWanted() override { return zipPreview_ && zipPreview_(slot_); }
    void downloadFinished(const QString& openCaption, const QString& folderCaption) override;
    void sessionClosed(const QString& why) override;

    // Figures, caption, bar and rows from the record.
    void DoRefresh();
    // All rows (0) or the row of one segment (1-based); nothing while rows are suspended.
    // One connection row (1-based), or all of them when 0.
    void RefreshList(int row);
    // Fits the rows' table, and the window, to the rows in use while details are shown.
    void RefreshForSegments();

    // Opens the slot's ZIP preview; false when there is none to open.
    void setZipPreview(std::function<bool(int slot)> open) { zipPreview_ = std::move(open); }
    // "Show in folder" beside "Open folder" once the file is whole: the file selected in the
    // user's file manager.
    void setShowInFolder(OpenUrl show) { showInFolder_ = std::move(show); }
    DownloadSession* session() const { return session_.data(); }

    // The session is gone; only the finished file's buttons still act.
    void detachSession();
    bool hasSession() const { return !session_.isNull(); }

    int slot() const { return slot_; }
    bool finished() const { return finished_; }
    // The session ended for a reason before the file was built; the state line tells it.
    bool failed() const { return failed_; }
    bool rowsSuspended() const { return RowsSuspended; }

signals:
    // The file was built at `savePath`.
    void fileBuilt(int slot, const QString& savePath);
    // "Change address...": the owner asks for the address and checks it.
    void changeAddressRequested(int slot);
    // The user closed a window that no longer has a session: its owner may delete it.
    void dismissed();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    DownloadRecord* record() const;
    void buildWindow();
    QHBoxLayout* buildButtons();
    void buildSegmentList();
    void fitColumns();
    void fitHeight();
    void drawRow(int number, bool withColour);
    // Sets a caption and keeps its language number with it, so a language switch re-captions
    // the control with what it shows now; a text of none of `numbers` carries no number.
    void setCaption(QWidget* control, const QString& text, std::initializer_list<int> numbers);
    void updateSuspension();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    QPointer<DownloadSession> session_;
    const int slot_;
    DownloadListState& list_;
    const TextTable& texts_;
    OpenUrl openUrl_;
    std::function<bool(int)> zipPreview_;
    OpenUrl showInFolder_;

    bool finished_ = false;
    bool failed_ = false;
    QString savePath_;  // of the finished file: the record may be reused once the session is gone
    bool RowsSuspended = false;
    bool DetailsHidden = false;

    ElidedLabel* fileLabel_ = nullptr;
    QLabel* stateLabel_ = nullptr;
    QLabel* Ela = nullptr;
    QLabel* Est = nullptr;
    QLabel* Speed = nullptr;
    QLabel* downloadedLabel_ = nullptr;
    QLabel* totalLabel_ = nullptr;
    QProgressBar* PB = nullptr;
    QGroupBox* segmentFrame_ = nullptr;
    QTreeView* segmentList_ = nullptr;
    SegmentRowsModel* rows_ = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* changeAddress_ = nullptr;
    QPushButton* showInFolderButton_ = nullptr;
};
