#include "ui/main_window/finished_pane.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDrag>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <utility>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/engine_context.h"
#include "ui/language/apply_language.h"
#include "ui/main_window/checksum_texts.h"
#include "ui/main_window/finished_list_model.h"
#include "ui/main_window/flex_column.h"
#include "ui/main_window/language_conventions.h"
#include "ui/main_window/list_pane.h"
#include "ui/main_window/list_view_state.h"
#include "ui/main_window/sortable_rows.h"
#include "ui/preview/preview_panel.h"

namespace {

// A click waits this long for the double click that would open the file instead.
constexpr int kClickPreviewDelay = 500;

const QString kFinishedKeys = QLatin1String(FinishedKeysFormat);

}  // namespace

FinishedPane::FinishedPane(EngineContext& context, RecordOf recordOf, ErrorMessage errorMessage,
                           QWidget* parent)
    : QWidget(parent),
      ctx_(context),
      recordOf_(std::move(recordOf)),
      errorMessage_(std::move(errorMessage)) {
    buildList();
    // The list, the preview's button and the preview side by side.
    buildPreview();
    auto* finishedRow = new QWidget;
    auto* beside = new QHBoxLayout(finishedRow);
    beside->setContentsMargins(0, 0, 0, 0);
    beside->setSpacing(4);
    beside->addWidget(listView2_, 1);
    beside->addWidget(Command4, 0, Qt::AlignTop);
    beside->addWidget(Picture1);
    LayOutListPane(this, tr("Finished downloads"), 213, "Label3", listView2_, nullptr, finishedRow);
    buildMenu();
}

void FinishedPane::buildList() {
    finished_ = new FinishedListModel(ctx_.texts, this);
    sorted_ = new ListSortProxy(this);
    listView2_ = NewSortedList("ListView2", finished_, sorted_, {214, 216, 221, 218, 1356});
    listView2_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    flex_ = new FlexColumns(listView2_,
                            {{FinishedListModel::Name, 1, 140}, {FinishedListModel::Url, 1, 140}});
    // Drags out of the list start in eventFilter.
    listView2_->viewport()->installEventFilter(this);
    connect(listView2_, &QTreeView::doubleClicked, this, &FinishedPane::doubleClicked);
    connect(listView2_, &QWidget::customContextMenuRequested, this, &FinishedPane::showMenu);
}

void FinishedPane::buildMenu() {
    const auto action = [this](const char* name, const QString& caption, int tag,
                               void (FinishedPane::*run)()) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        SetTag(a, tag);
        connect(a, &QAction::triggered, this, run);
        return a;
    };
    QAction* open = action("openfile2", tr("&Open file"), 117, &FinishedPane::openSelected);
    QAction* folder =
        action("openfolder2", tr("Open &folder"), 118, &FinishedPane::openSelectedFolder);
    // Shown once the window says how (setShowInFolder).
    showInFolder_ =
        action("showinfolder2", ctx_.texts.text(1470), 1470, &FinishedPane::showSelectedInFolder);
    showInFolder_->setVisible(false);
    QAction* copy =
        action("copyurl2", tr("&Copy address"), 119, &FinishedPane::copySelectedAddress);
    // Shown once the window says how a file's SHA-256 is found (setCopySha256).
    copySha256_ = action("copysha2562", ctx_.texts.text(1363), 1363, &FinishedPane::copySha256);
    copySha256_->setVisible(false);
    pop2_ = new QMenu(this);
    pop2_->setObjectName(QStringLiteral("pop2"));
    // Opening the file is what a double click does too, so it is the menu's default.
    pop2_->addAction(open);
    pop2_->setDefaultAction(open);
    pop2_->addAction(folder);
    pop2_->addAction(showInFolder_);
    pop2_->addAction(copy);
    pop2_->addAction(copySha256_);
}

void FinishedPane::setCopySha256(std::function<void(const QString& key)> copy) {
    copySha256With_ = std::move(copy);
    copySha256_->setVisible(bool(copySha256With_));
}

void FinishedPane::copySha256() {
    const QString key = selectedKey();
    if (!key.isEmpty() && copySha256With_) {
        copySha256With_(key);
    }
}

void FinishedPane::addMenuActions(const QList<QAction*>& actions) {
    pop2_->addSeparator();
    pop2_->addActions(actions);
}

void FinishedPane::refresh(const DownloadListState& list) {
    const ViewState state = Remember(listView2_, *finished_);
    finished_->rebuild(list);
    Restore(listView2_, *finished_, state);
}

void FinishedPane::fitColumns() {
    QHeaderView* h2 = listView2_->header();
    h2->resizeSection(FinishedListModel::Size,
                      ColumnWidth(listView2_, FinishedListModel::Size, {SizeSample(ctx_.texts)}));
    h2->resizeSection(FinishedListModel::Added,
                      ColumnWidth(listView2_, FinishedListModel::Added, {DateSample()}));
    h2->resizeSection(FinishedListModel::Checksum,
                      ColumnWidth(listView2_, FinishedListModel::Checksum,
                                  {ctx_.texts.text(1357), QStringLiteral("✓ SHA-512")}));
    flex_->fit();
}

QStringList FinishedPane::selectedKeys() const {
    QStringList keys;
    for (const QModelIndex& index : listView2_->selectionModel()->selectedRows()) {
        keys << finished_->keyAt(SourceRow(listView2_, index));
    }
    return keys;
}

QString FinishedPane::selectedKey() const {
    const QStringList keys = selectedKeys();
    return keys.isEmpty() ? QString() : keys.first();
}

QString FinishedPane::keyAt(const QModelIndex& index) const {
    return finished_->keyAt(SourceRow(listView2_, index));
}

void FinishedPane::showMenu(const QPoint& at) {
    if (!listView2_->indexAt(at).isValid()) {
        return;
    }
    pop2_->popup(listView2_->viewport()->mapToGlobal(at));
}

// The preview: shown or hidden by its button, a finished file previewed half a second after a
// click unless a double click opens it.

void FinishedPane::buildPreview() {
    Picture1 = new PreviewPanel(ctx_.texts);
    connect(Picture1, &PreviewPanel::hint, this, &FinishedPane::hint);
    Command4 = new QPushButton;
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setAutoDefault(false);
    Command4->setFixedWidth(Command4->fontMetrics().horizontalAdvance(u'>') * 2 + 12);
    Command4->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(Command4, &QPushButton::clicked, this, [this] {
        PreviewEnabled = !PreviewEnabled;
        showPreviewPanel();
    });
    clickPreview_ = new QTimer(this);
    clickPreview_->setSingleShot(true);
    clickPreview_->setInterval(kClickPreviewDelay);
    connect(clickPreview_, &QTimer::timeout, this, [this] {
        if (!DblClick) {
            Picture1->LoadMedia(clickedFile_, QString());
        }
        DblClick = false;
    });
    connect(listView2_, &QTreeView::clicked, this, &FinishedPane::clicked);
    showPreviewPanel();
}

// The panel's button says where the panel goes: ">" folds it away to the right, "<" brings it
// back.
void FinishedPane::showPreviewPanel() {
    Picture1->setVisible(PreviewEnabled);
    Command4->setText(PreviewEnabled ? QStringLiteral(">") : QStringLiteral("<"));
}

PreviewPanel* FinishedPane::showPreview() {
    PreviewEnabled = true;
    showPreviewPanel();
    return Picture1;
}

void FinishedPane::clicked(const QModelIndex& index) {
    const DownloadRecord* r = recordOf_(keyAt(index));
    // The release that ends a double click opened the file already: no preview after it.
    if (r == nullptr || StateOf(*r) != ListEntryState::Finished || std::exchange(DblClick, false)) {
        return;
    }
    if (Picture1->isVisible()) {
        clickedFile_ = r->SavePath;
        if (QFileInfo(r->SavePath).isFile()) {
            clickPreview_->start();
        } else {
            clickPreview_->stop();
            Picture1->LoadMedia(r->SavePath, QString());  // says the preview is not available
        }
    }
    detailsKey_ = r->Url;
    // The address as the lists show it, never with a password.
    Picture1->showDetails(
        UrlForDisplay(DecodeUrl(r->Url)),
        LanguageLocale(ctx_.texts).toString(r->FileSize.bytes()) + u' ' + ctx_.texts.text(0),
        r->SavePath);
    showChecksum(*r);
}

void FinishedPane::showChecksum(const DownloadRecord& r) {
    const ChecksumNote note = ReadChecksumNote(r);
    Picture1->showChecksum(
        ChecksumLine(note, ctx_.texts),
        note.outcome == ChecksumNote::Outcome::Failed ? ChecksumFailedColor() : QColor());
}

void FinishedPane::refreshDetails(const QString& key) {
    const DownloadRecord* r = recordOf_(key);
    if (r != nullptr && key == detailsKey_) {
        showChecksum(*r);
    }
}

void FinishedPane::doubleClicked(const QModelIndex& index) {
    DblClick = true;
    clickPreview_->stop();
    open(keyAt(index));
}

// Opening and copying.

void FinishedPane::openSelected() {
    open(selectedKey());
}

void FinishedPane::open(const QString& key) {
    const DownloadRecord* r = recordOf_(key);
    if (r == nullptr) {
        return;
    }
    if (!QFileInfo(r->SavePath).isFile()) {
        if (errorMessage_) {
            errorMessage_(ctx_.texts.text(687) + u' ' + r->FileName);
        }
        return;
    }
    if (ctx_.openUrl) {
        ctx_.openUrl(r->SavePath);
    }
}

void FinishedPane::openSelectedFolder() {
    const DownloadRecord* r = recordOf_(selectedKey());
    if (r == nullptr || r->SavePath.isEmpty()) {
        return;
    }
    const QString folder = QFileInfo(r->SavePath).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        if (errorMessage_) {
            errorMessage_(ctx_.texts.text(687) + u' ' + folder);
        }
        return;
    }
    if (ctx_.openUrl) {
        ctx_.openUrl(folder);
    }
}

void FinishedPane::setShowInFolder(std::function<void(const QString& path)> show) {
    showInFolderWith_ = std::move(show);
    showInFolder_->setVisible(bool(showInFolderWith_));
}

void FinishedPane::showSelectedInFolder() {
    const DownloadRecord* r = recordOf_(selectedKey());
    if (r == nullptr || r->SavePath.isEmpty() || !showInFolderWith_) {
        return;
    }
    // A file gone since is shown by its folder, as "Open folder" would.
    if (!QFileInfo(r->SavePath).isFile()) {
        openSelectedFolder();
        return;
    }
    showInFolderWith_(r->SavePath);
}

void FinishedPane::copySelectedAddress() {
    const QString key = selectedKey();
    if (!key.isEmpty()) {
        QGuiApplication::clipboard()->setText(key);
    }
}

// Dragging files out of the list.

QMimeData* FinishedPane::dragData(const QStringList& keys) const {
    auto* data = new QMimeData;
    QList<QUrl> files;
    for (const QString& key : keys) {
        const DownloadRecord* r = recordOf_(key);
        if (r != nullptr && QFileInfo(r->SavePath).isFile()) {
            files << QUrl::fromLocalFile(QFileInfo(r->SavePath).absoluteFilePath());
        }
    }
    // File managers and other programs take the files; our own list takes the addresses.
    data->setUrls(files);
    data->setText(keys.join(u'\n'));
    data->setData(kFinishedKeys, keys.join(u'\n').toUtf8());
    return data;
}

bool FinishedPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched != listView2_->viewport()) {
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton) {
            dragStart_ = press->position().toPoint();
        }
        // A new click: whatever double click came before is over.
        DblClick = false;
        emit hint(ctx_.texts.text(663));
    } else if (event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        if (move->buttons().testFlag(Qt::LeftButton) && dragStart_ &&
            (move->position().toPoint() - *dragStart_).manhattanLength() >=
                QApplication::startDragDistance() &&
            !selectedKeys().isEmpty()) {
            dragStart_.reset();
            dragOut();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        dragStart_.reset();
    }
    return false;
}

// Copy or move, as the receiver chooses; either way the receiver does the work, so a file it
// did not take stays where it was. Whatever became of the drag, the window draws the lists
// again from the records, never editing them on its outcome: a refused drop, or a "No" to
// downloading a finished file again, leaves both lists as they were.
void FinishedPane::dragOut() {
    const QStringList keys = selectedKeys();
    DraggedFile = true;
    auto* drag = new QDrag(listView2_);
    drag->setMimeData(dragData(keys));
    const Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    qCInfo(lcUi) << "drag of" << keys.size() << "finished files ended:" << done;
    DraggedFile = false;
    emit dragEnded();
}
