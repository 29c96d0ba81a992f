#pragma once

#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

class FinishedListModel;
class FlexColumns;
class ListSortProxy;
class PreviewPanel;
class QAction;
class QMenu;
class QMimeData;
class QModelIndex;
class QPushButton;
class QTimer;
class QTreeView;
struct DownloadListState;
struct DownloadRecord;
struct EngineContext;

// Our own drags name the finished entries they carry, one address a line.
inline constexpr char FinishedKeysFormat[] = "application/x-brenloft-finished";

// The finished downloads (ListView2) under their heading, with the media preview beside them.
// A click previews the file half a second later, unless a double click opens it instead; the
// list's menu ("pop2") opens a file or its folder or copies its address; a drag takes the files
// out to other programs. The list is a view only: the window rebuilds it from the records and
// its commands remove entries.
class FinishedPane : public QWidget {
    Q_OBJECT
public:
    // The record of the entry whose address is `key`, or none.
    using RecordOf = std::function<const DownloadRecord*(const QString& key)>;
    using ErrorMessage = std::function<void(const QString& text)>;

    FinishedPane(EngineContext& context, RecordOf recordOf, ErrorMessage errorMessage,
                 QWidget* parent = nullptr);

    // The list anew, with the selection and the scroll place it had.
    void refresh(const DownloadListState& list);
    void fitColumns();
    // The window's commands on finished entries, after the menu's own.
    void addMenuActions(const QList<QAction*>& actions);

    QTreeView* listView() const { return listView2_; }
    const FinishedListModel& rows() const { return *finished_; }
    PreviewPanel* previewPanel() const { return Picture1; }
    QStringList selectedKeys() const;
    QString selectedKey() const;
    // Unfolds the preview panel for something to be shown in it.
    PreviewPanel* showPreview();

    // What a drag out of the list carries for these entries: their files as file addresses
    // (the ones still there), their addresses as text for our own list.
    QMimeData* dragData(const QStringList& keys) const;

    // The menu's entries: the selected file, its folder, its address to the clipboard.
    void openSelected();
    void openSelectedFolder();
    void showSelectedInFolder();
    void copySelectedAddress();
    // "Show in folder": hidden until given how to show a file in the user's file manager.
    void setShowInFolder(std::function<void(const QString& path)> show);
    // "Copy SHA-256": hidden until given how to copy the file's SHA-256 for an entry's key.
    void setCopySha256(std::function<void(const QString& key)> copy);
    // The details' checksum line anew, when they show this entry's file.
    void refreshDetails(const QString& key);

signals:
    // For the status line.
    void hint(const QString& text);
    // A drag out of the list is over, whatever became of it.
    void dragEnded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildList();
    void buildPreview();
    void buildMenu();
    QString keyAt(const QModelIndex& index) const;
    void clicked(const QModelIndex& index);
    void doubleClicked(const QModelIndex& index);
    void open(const QString& key);
    void showMenu(const QPoint& at);
    void showPreviewPanel();
    void dragOut();
    void copySha256();
    void showChecksum(const DownloadRecord& r);

    EngineContext& ctx_;
    RecordOf recordOf_;
    ErrorMessage errorMessage_;

    FinishedListModel* finished_ = nullptr;
    ListSortProxy* sorted_ = nullptr;
    QTreeView* listView2_ = nullptr;
    FlexColumns* flex_ = nullptr;  // name and address
    PreviewPanel* Picture1 = nullptr;
    QPushButton* Command4 = nullptr;  // shows and hides the preview
    QMenu* pop2_ = nullptr;
    QAction* copySha256_ = nullptr;
    QAction* showInFolder_ = nullptr;
    std::function<void(const QString& path)> showInFolderWith_;
    std::function<void(const QString& key)> copySha256With_;

    bool DraggedFile = false;    // a drag out of the list is under way
    bool PreviewEnabled = true;  // the preview panel is shown
    bool DblClick = false;       // a double click opened a finished file
    QString clickedFile_;        // previewed when the click's wait is over
    QString detailsKey_;         // the entry the details show
    QTimer* clickPreview_ = nullptr;
    std::optional<QPoint> dragStart_;
};
