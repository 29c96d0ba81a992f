#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

#include "core/download_list/checksum_note.h"
#include "core/types/currency.h"
#include "core/types/ole_date.h"
#include "ui/main_window/language_conventions.h"
#include "ui/main_window/sortable_rows.h"
#include "ui/main_window/titled_table_model.h"

struct DownloadListState;
class TextTable;

// The finished downloads (ListView2): one row per completed entry in the list, keyed by its
// Url, with its file type's icon from the desktop's icon theme, or "notfound" when the file is no
// longer where it was saved. Whether the file is there is asked once per row and refresh, when the
// row is first shown, so a list of thousands of finished files costs no disk look-ups for the rows
// nobody scrolls to. The Checksum column marks a file whose checksum matched, and one whose
// checksum failed in red, its tooltip saying both values and where the expected one came from.
class FinishedListModel : public TitledTableModel, public SortableRows {
    Q_OBJECT
public:
    enum Column { Name, Size, Url, Added, Checksum, ColumnCount };
    enum Role {
        KeyRole = Qt::UserRole + 1,  // the row's Url
        IconKeyRole,                 // "notfound", or the Url that keys the file's icon
        TypeRole,                    // the file's type ("image/png") its icon is chosen by
    };

    explicit FinishedListModel(const TextTable& texts, QObject* parent = nullptr);

    void rebuild(const DownloadListState& list);

    int rowOf(const QString& key) const { return index_.value(key, -1); }
    QString keyAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool rowLessThan(int left, int right, int column) const override;

private:
    enum class Presence : std::uint8_t { Unknown, Present, Missing };
    struct Row {
        QString key;
        QString fileName;
        QString savePath;
        Currency size;
        OleDate added;
        ChecksumNote checksum;
        mutable QString decodedName;
        mutable bool decoded = false;
        mutable Presence presence = Presence::Unknown;
    };

    const QString& nameOf(const Row& row) const;
    bool fileMissing(const Row& row) const;
    QIcon fileIcon(const Row& row) const;
    QVariant checksumData(const Row& row, int role) const;

    const TextTable& texts_;
    LocaleCache locale_;
    QVector<Row> rows_;
    QHash<QString, int> index_;
    // The image list: one icon per Url, kept across refreshes.
    mutable QHash<QString, QIcon> fileIcons_;
    QFileIconProvider iconProvider_;
    QMimeDatabase mimeTypes_;
};
