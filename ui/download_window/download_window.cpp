#include "ui/download_window/download_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "engine/address_change/address_change.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "ui/download_window/elided_label.h"
#include "ui/download_window/segment_bar_delegate.h"
#include "ui/download_window/segment_rows_model.h"
#include "ui/download_window/window_texts.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"

namespace {

constexpr int MaxRows = 8;

QLabel* CaptionLabel(const QString& text, int tag, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    SetTag(label, tag);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* ValueLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QColor BarColour(std::int16_t state) {
    switch (state) {
        case SegmentState::Receiving:
            return {0, 192, 192};
        case SegmentState::Complete:
            return {0, 0, 255};
        case SegmentState::Paused:
            return {255, 0, 0};
        default:
            return {};
    }
}

// The share of a segment's bytes that are stored: what earlier connections kept plus what the
// current one received, of what was kept plus what is still asked for.
double StoredFraction(const SegmentRecord& s) {
    const std::int64_t stored = s.Received.bytes() + s.Done.bytes();
    const std::int64_t whole = s.Done.bytes() + s.EndPos.bytes() - s.StartPos.bytes() + 1;
    return whole > 0 ? std::clamp(double(stored) / double(whole), 0.0, 1.0) : 0.0;
}

}  // namespace

Kestor2::Kestor2(DownloadSession& session, int slot, DownloadListState& list,
                 const TextTable& texts, OpenUrl openUrl, QWidget* parent)
    : QWidget(parent),
      session_(&session),
      slot_(slot),
      list_(list),
      texts_(texts),
      openUrl_(std::move(openUrl)) {
    setObjectName(QStringLiteral("Kestor2"));
    buildWindow();
    Command1->hide();
    ApplyLanguage(this, texts_);
    fitColumns();
    RefreshForSegments();
    resize(std::max(width(), fontMetrics().averageCharWidth() * 90), height());
}

Kestor2::~Kestor2() = default;

void Kestor2::buildWindow() {
    // Until the first figures; the title then tells the percentage and the file.
    setWindowTitle(texts_.text(222));

    fileLabel_ = new ElidedLabel(this);
    fileLabel_->setObjectName(QStringLiteral("FileLabel"));
    // The state line may end with a server's reason, which may hold the whole address.
    stateLabel_ = new ElidedLabel(this);
    stateLabel_->setObjectName(QStringLiteral("StateLabel"));
    stateLabel_->setTextFormat(Qt::PlainText);
    setCaption(stateLabel_, texts_.text(525), {525});
    Ela = ValueLabel(QStringLiteral("Ela"), this);
    Est = ValueLabel(QStringLiteral("Est"), this);
    Speed = ValueLabel(QStringLiteral("Speed"), this);
    downloadedLabel_ = ValueLabel(QStringLiteral("DownloadedLabel"), this);
    totalLabel_ = ValueLabel(QStringLiteral("TotalLabel"), this);

    auto* figures = new QGridLayout;
    figures->setColumnStretch(1, 1);
    figures->setColumnStretch(3, 1);
    figures->addWidget(CaptionLabel(QStringLiteral("Downloading file:"), 223, this), 0, 0);
    figures->addWidget(fileLabel_, 0, 1, 1, 3);
    figures->addWidget(CaptionLabel(QStringLiteral("State:"), 224, this), 1, 0);
    figures->addWidget(stateLabel_, 1, 1, 1, 3);
    figures->addWidget(CaptionLabel(QStringLiteral("Time elapsed:"), 225, this), 2, 0);
    figures->addWidget(Ela, 2, 1);
    figures->addWidget(CaptionLabel(QStringLiteral("Speed:"), 226, this), 2, 2);
    figures->addWidget(Speed, 2, 3);
    figures->addWidget(CaptionLabel(QStringLiteral("Estimated time:"), 227, this), 3, 0);
    figures->addWidget(Est, 3, 1);
    figures->addWidget(CaptionLabel(QStringLiteral("Downloaded:"), 228, this), 3, 2);
    auto* amounts = new QHBoxLayout;
    amounts->setSpacing(fontMetrics().horizontalAdvance(u' '));
    amounts->addWidget(downloadedLabel_);
    amounts->addWidget(totalLabel_);
    amounts->addStretch(1);
    figures->addLayout(amounts, 3, 3);

    PB = new QProgressBar(this);
    PB->setObjectName(QStringLiteral("PB"));
    PB->setRange(0, 100);
    PB->setValue(0);

    buildSegmentList();

    QHBoxLayout* buttons = buildButtons();

    auto* window = new QVBoxLayout(this);
    window->addLayout(figures);
    window->addWidget(PB);
    window->addWidget(segmentFrame_);
    window->addLayout(buttons);
}

// The commands under the segments, in the order they are read: details, start, change address,
// pause, cancel.
QHBoxLayout* Kestor2::buildButtons() {
    Command1 = new QPushButton(QStringLiteral("Start Download"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    SetTag(Command1, 230);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    SetTag(Command2, 231);
    Command3 = new QPushButton(this);
    Command3->setObjectName(QStringLiteral("Command3"));
    setCaption(Command3, texts_.text(782), {782});
    Command4 = new QPushButton(this);
    Command4->setObjectName(QStringLiteral("Command4"));
    setCaption(Command4, texts_.text(515), {515});
    connect(Command1, &QPushButton::clicked, this, &Kestor2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Kestor2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Kestor2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Kestor2::Command4_Click);
    // Beside the pause button: an expired link is what it is most often wanted for.
    changeAddress_ = new QPushButton(this);
    changeAddress_->setObjectName(QStringLiteral("ChangeAddress"));
    setCaption(changeAddress_, texts_.text(1342), {1342});
    connect(changeAddress_, &QPushButton::clicked, this,
            [this] { emit changeAddressRequested(slot_); });
    showInFolderButton_ = new QPushButton(this);
    showInFolderButton_->setObjectName(QStringLiteral("ShowInFolder"));
    setCaption(showInFolderButton_, texts_.text(1469), {1469});
    showInFolderButton_->hide();
    connect(showInFolderButton_, &QPushButton::clicked, this, [this] {
        if (showInFolder_) {
            showInFolder_(savePath_);
        }
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command4);
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    buttons->addWidget(changeAddress_);
    buttons->addWidget(showInFolderButton_);
    buttons->addWidget(Command3);
    buttons->addWidget(Command2);
    return buttons;
}

// The frame of segment rows: one row per connection, a bar for what each has stored.
void Kestor2::buildSegmentList() {
    segmentFrame_ = new QGroupBox(QStringLiteral("Segmented downloads"), this);
    segmentFrame_->setObjectName(QStringLiteral("SegmentFrame"));
    SetTag(segmentFrame_, 229);
    rows_ = new SegmentRowsModel(this);
    rows_->setObjectName(QStringLiteral("SegmentRows"));
    segmentList_ = new QTreeView(segmentFrame_);
    segmentList_->setObjectName(QStringLiteral("SegmentList"));
    segmentList_->setModel(rows_);
    SetColumnTags(segmentList_, {232, 233, 234, 235});
    segmentList_->setItemDelegate(new SegmentBarDelegate(segmentList_));
    segmentList_->setRootIsDecorated(false);
    segmentList_->setItemsExpandable(false);
    segmentList_->setUniformRowHeights(true);
    segmentList_->setAlternatingRowColors(true);
    segmentList_->setSelectionMode(QAbstractItemView::NoSelection);
    segmentList_->setFocusPolicy(Qt::NoFocus);
    segmentList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    segmentList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    segmentList_->header()->setSectionsMovable(false);
    segmentList_->header()->setStretchLastSection(false);
    segmentList_->header()->setSectionResizeMode(QHeaderView::Fixed);
    segmentList_->header()->setSectionResizeMode(SegmentRowsModel::Prog, QHeaderView::Stretch);
    // Flat: the table has a frame of its own.
    segmentFrame_->setFlat(true);
    auto* frameLayout = new QVBoxLayout(segmentFrame_);
    frameLayout->setContentsMargins(0, frameLayout->contentsMargins().top(), 0, 0);
    frameLayout->addWidget(segmentList_);
}

// Fixed widths that fit every text a column can show, so columns do not jump as states change;
// the bar takes what is left.
void Kestor2::fitColumns() {
    const QFontMetrics cell(segmentList_->font());
    const QFontMetrics title(segmentList_->header()->font());
    const int air = cell.averageCharWidth() * 3;
    auto widest = [&](int column, const QStringList& cells) {
        int width = title.horizontalAdvance(
            rows_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        for (const QString& text : cells) {
            width = std::max(width, cell.horizontalAdvance(text));
        }
        return width + air;
    };
    QStringList states;
    for (std::int16_t state : {0, 1, 2, 3, 4, 6, 7, 11}) {
        states << SegmentStateText(state, texts_);
    }
    const int num = widest(SegmentRowsModel::Num, {QStringLiteral("8")});
    const int state = widest(SegmentRowsModel::StateS, states);
    const int size = widest(SegmentRowsModel::Size, {QStringLiteral("999.9 ") + texts_.text(1),
                                                     QStringLiteral("999.99 ") + texts_.text(2),
                                                     QStringLiteral("999.99 ") + texts_.text(3)});
    QHeaderView* header = segmentList_->header();
    header->resizeSection(SegmentRowsModel::Num, num);
    header->resizeSection(SegmentRowsModel::StateS, state);
    header->resizeSection(SegmentRowsModel::Size, size);
    const int bar = cell.averageCharWidth() * 18;
    segmentList_->setMinimumWidth(num + state + size + bar + 2 * segmentList_->frameWidth());
}

DownloadRecord* Kestor2::record() const {
    return list_.record(slot_);
}

void Kestor2::setCaption(QWidget* control, const QString& text,
                         std::initializer_list<int> numbers) {
    int tag = 0;
    for (int number : numbers) {
        if (texts_.text(number) == text) {
            tag = number;
            break;
        }
    }
    SetTag(control, tag);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    }
}

void Kestor2::fileLabelChanged(const QString& text) {
    fileLabel_->setFullText(text);
}

void Kestor2::stateLabelChanged(const QString& text) {
    setCaption(stateLabel_, text, {520, 521, 524, 534, 537});
}

void Kestor2::segmentsPlanned(int count) {
    rows_->setRowCount(std::clamp(count, 0, MaxRows));
    RefreshForSegments();
    RefreshList(0);
}

void Kestor2::pauseButtonChanged(bool enabled, const QString& caption) {
    Command3->setEnabled(enabled);
    setCaption(Command3, caption, {781, 782});
    // No figures come while paused, so the state line would go on saying "Downloading...".
    if (caption == texts_.text(781)) {
        setCaption(stateLabel_, texts_.text(528), {528});
    } else if (stateLabel_->text() == texts_.text(528)) {
        setCaption(stateLabel_, texts_.text(534), {534});
    }
}

void Kestor2::zipPreviewOffered(const QString& caption) {
    setCaption(Command1, caption, {768});
    Command1->show();
}

void Kestor2::downloadFinished(const QString& openCaption, const QString& folderCaption) {
    setCaption(Command1, openCaption, {784});
    setCaption(Command3, folderCaption, {785});
    Command1->setEnabled(true);
    Command3->setEnabled(true);
    changeAddress_->hide();
    finished_ = true;
    if (const DownloadRecord* r = record()) {
        savePath_ = r->SavePath;
    }
    Command1->show();
    Command1->setDefault(true);
    showInFolderButton_->setVisible(bool(showInFolder_));
    emit fileBuilt(slot_, savePath_);
}

// A download that stopped for a reason says it here too, in the words of the list's row.
void Kestor2::sessionClosed(const QString& why) {
    const DownloadRecord* r = record();
    const QString stored = r != nullptr ? FailureWords(FailureCodeOf(*r), texts_) : QString();
    const QString reason = stored.isEmpty() ? FailureReason(why, texts_) : stored;
    if (finished_ || reason.isEmpty()) {
        return;
    }
    failed_ = true;
    stateLabel_->setToolTip(PlainToolTip(reason));
    // An expired link asks for a new address; the refusal stays in the tooltip.
    if (r != nullptr && LinkExpired(*r)) {
        setCaption(stateLabel_, texts_.text(1341), {1341});
        return;
    }
    setCaption(stateLabel_, texts_.text(111) + u' ' + reason, {});
}

void Kestor2::DoRefresh() {
    const DownloadRecord* r = record();
    if (session_.isNull() || r == nullptr) {
        return;
    }
    // A server that sends more than it announced can push the figure past 100: shown as 100.
    const float percent = std::min(r->Percent, 100.0f);
    const QString reconnecting = session_->reconnecting();
    if (!reconnecting.isEmpty()) {
        setCaption(stateLabel_, reconnecting, {});
    } else if (percent >= 100) {
        setCaption(stateLabel_, texts_.text(521), {521});
    } else {
        setCaption(stateLabel_, texts_.text(534), {534});
    }
    setWindowTitle(CaptionText(percent, r->FileName, texts_));
    if (isMinimized() && RowsSuspended) {
        return;
    }
    PB->setValue(std::clamp(static_cast<int>(std::floor(percent)), 0, 100));
    if (r->ElapsedSeconds != 0) {
        const std::optional<double> rate = session_->shownSpeed();
        Speed->setText(
            rate ? FormatSize(Currency::fromRaw(std::llround(*rate * Currency::Scale)), texts_) +
                       QStringLiteral("/s")
                 : QString());
        Ela->setText(DurationText(r->ElapsedSeconds, texts_));
        Est->setText(DurationText(r->RemainingSeconds, texts_));
        downloadedLabel_->setText(FormatSize(r->BytesDone, texts_));
        totalLabel_->setText(QStringLiteral("/ ") + FormatSize(r->FileSize, texts_));
        RefreshList(0);
    }
}

void Kestor2::RefreshList(int row) {
    const DownloadRecord* r = record();
    if (RowsSuspended || session_.isNull() || r == nullptr) {
        return;
    }
    if (row == 0) {
        for (int n = 1; n <= rows_->rowCount(); ++n) {
            drawRow(n, true);
        }
    } else if (row <= rows_->rowCount()) {
        drawRow(row, false);
    }
}

// A row per connection, showing the segment it serves (or served last).
void Kestor2::drawRow(int number, bool withColour) {
    const SegmentRecord* s = record()->Segments.at(session_->segmentShownOnRow(number));
    if (s == nullptr || (withColour && s->Watched != FlagTrue)) {
        return;
    }
    SegmentRow row;
    row.number = number;
    row.state = SegmentStateText(s->State, texts_);
    row.size = FormatSize(s->Received + s->Done, texts_);
    row.fraction = StoredFraction(*s);
    row.colour = BarColour(s->State);
    rows_->setRow(number - 1, row, withColour);
}

void Kestor2::RefreshForSegments() {
    if (DetailsHidden) {
        return;
    }
    const int rows = std::max(1, rows_->rowCount());
    int rowHeight = rows_->rowCount() > 0 ? segmentList_->sizeHintForRow(0) : 0;
    if (rowHeight <= 0) {
        rowHeight = segmentList_->fontMetrics().height() * 8 / 5;
    }
    segmentList_->setFixedHeight(segmentList_->header()->sizeHint().height() + rows * rowHeight +
                                 2 * segmentList_->frameWidth());
    fitHeight();
}

// The frame's own layout would learn of the new table height only from a posted event: the
// window takes its height from fresh hints at once.
void Kestor2::fitHeight() {
    segmentFrame_->layout()->invalidate();
    segmentFrame_->updateGeometry();
    layout()->invalidate();
    layout()->activate();
    setFixedHeight(sizeHint().height());
}

void Kestor2::detachSession() {
    session_.clear();
    Command3->setEnabled(finished_);
    if (!finished_) {
        Command1->setEnabled(false);
    }
}

void Kestor2::updateSuspension() {
    const bool suspended = isMinimized() || DetailsHidden;
    if (RowsSuspended && !suspended) {
        RowsSuspended = false;
        // Catch up with what was not drawn meanwhile.
        RefreshList(0);
        DoRefresh();
    }
    RowsSuspended = suspended;
}

void Kestor2::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange || event->type() == QEvent::ActivationChange) {
        updateSuspension();
    }
    if (event->type() == QEvent::LanguageChange) {
        DoRefresh();  // the title's words
    }
    QWidget::changeEvent(event);
}

void Kestor2::showEvent(QShowEvent* event) {
    updateSuspension();
    QWidget::showEvent(event);
}

void Kestor2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Before the plan there are no figures yet, and the probe's own state line should stay.
    const DownloadRecord* r = record();
    if (r != nullptr && r->SegmentCount > 0) {
        DoRefresh();
    }
}

void Kestor2::closeEvent(QCloseEvent* event) {
    // With a session the window only hides: a running download goes on, a paused one waits to
    // be resumed from the list, which shows this window again.
    event->accept();
    if (session_.isNull()) {
        emit dismissed();
    }
}

// Escape closes the window as its close box does.
void Kestor2::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Kestor2::Command1_Click() {
    if (finished_) {
        openUrl_(savePath_);
    } else if (Command1->text() == texts_.text(768) && zipPreview_) {
        zipPreview_(slot_);
    }
}

void Kestor2::Command2_Click() {
    if (session_.isNull() || finished_) {
        close();
        return;
    }
    session_->CancelDownload();
}

void Kestor2::Command3_Click() {
    if (finished_) {
        openUrl_(savePath_.left(savePath_.lastIndexOf(u'/') + 1));
        return;
    }
    const DownloadRecord* r = record();
    if (session_.isNull() || r == nullptr || StateOf(*r) == ListEntryState::Finished) {
        return;
    }
    if (HeldByPause(*r)) {
        session_->ResumeDownload();
    } else {
        session_->PauseDownload();
    }
}

void Kestor2::Command4_Click() {
    if (DetailsHidden) {
        DetailsHidden = false;
        setCaption(Command4, texts_.text(515), {515});
        segmentFrame_->show();
        RefreshForSegments();
        updateSuspension();
    } else {
        setCaption(Command4, texts_.text(516), {516});
        DetailsHidden = true;
        segmentFrame_->hide();
        fitHeight();
        RowsSuspended = true;
    }
}
