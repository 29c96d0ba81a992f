#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

#include "archive/remote/remote_archive.h"
#include "archive/zip_directory.h"
#include "archive/zip_folders.h"
#include "archive/zip_listing.h"

class MemberIcons;
class ProxyResolver;
class QAbstractItemView;
class QLabel;
class QListView;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QStandardItemModel;
class QTreeView;
class TextTable;
class VelmoraSockets;
class ZipPreviewReader;
struct Settings;

// The remote ZIP preview of one download: reads the archive's table of contents by range
// requests and lists it, as all files or folder by folder, before (or instead of) fetching the
// whole archive. Its buttons hand the download back to the segments ("Download classic") and
// ask for extraction; what extraction does is its owner's.
class Form2 : public QWidget {
    Q_OBJECT
public:
    // `resolver`: where the preview's requests take their proxy route; none: the settings'.
    Form2(VelmoraSockets& sockets, const Settings& settings, const TextTable& texts,
          QWidget* parent = nullptr, ProxyResolver* resolver = nullptr);
    ~Form2() override;

    void SetIndex(int index) { index_ = index; }
    int index() const { return index_; }
    // Reads the directory of `archive` and lists it; returns at once, the list follows.
    void Start(const RemoteArchive& archive);
    // Rebuilds the list in the chosen view, in the Report style.
    void ShowList();

    // The folder listed in folder view ("a/b"; empty: the archive's root).
    QString CurrentFolder;

    const QList<ZipEntry>& entries() const { return entries_; }
    // The members of the selected rows, the files inside selected folders included.
    QList<ZipEntry> selectedMembers() const;
    bool listed() const { return listed_; }
    // Shows a line of progress or an outcome where the summary stands.
    void setStatus(const QString& text);
    QString status() const;

signals:
    void downloadClassicChosen(int index);
    // Extract ALL (`members` empty) or Extract SELECTED.
    void extractChosen(int index, const QList<ZipEntry>& members);
    // The window closed by any way but "Download classic" (said once).
    void closedWithoutClassic(int index);
    // The table of contents could not be read: `why` in the user's words.
    void previewFailed(int index, const QString& why);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void buildViews();
    void readFailed(const RemoteArchiveFailure& failure);
    void showEntries();
    void openRow(const QModelIndex& index);
    void setStyle(int style);
    QString sizeText(quint64 bytes) const;
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    const TextTable& texts_;
    std::unique_ptr<ZipPreviewReader> reader_;
    std::unique_ptr<MemberIcons> icons_;
    int index_ = 0;
    QList<ZipEntry> entries_;
    ZipFolderTree tree_;
    ZipListing rows_;  // what the list shows, in listing order
    bool listed_ = false;
    bool handedBack_ = false;  // "Download classic" chosen, or the close reported

    QLabel* Label1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    QRadioButton* Option5 = nullptr;
    QRadioButton* Option6 = nullptr;
    QStackedWidget* views_ = nullptr;
    QTreeView* ListView1 = nullptr;  // the Report style
    QListView* iconView_ = nullptr;  // the List, Icon and Small styles
    QStandardItemModel* model_ = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
};
