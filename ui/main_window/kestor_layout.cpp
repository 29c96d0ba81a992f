// The main window's controls: menus, toolbar, the two lists, the button row,
// the status line.

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <string_view>
#include <tuple>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "engine/engine_context.h"
#include "ui/language/apply_language.h"
#include "ui/main_window/flex_column.h"
#include "ui/main_window/kestor.h"
#include "ui/main_window/list_pane.h"
#include "ui/main_window/progress_delegate.h"
#include "ui/main_window/sortable_rows.h"
#include "ui/main_window/state_icons.h"
#include "ui/main_window/unfinished_list_model.h"

namespace {

// Captions until the language table is applied; the tag of button i is 100 + i.
constexpr std::array<const char*, Kestor::CommandCount> kButtons = {
    "Add URL",   "Delete URL", "Options", "Quit",       "Pause Download",
    "Pause All", "Resume All", "Browser", "Reset list",
};

struct ToolSpec {
    const char* key;
    int tag;  // the caption's entry; the tooltip is 30 above it
    const char* caption;
    const char* themeIcon;
    const char* ownIcon;
    int command;  // a button of the row, or -1 for "resume the selected download"
};

constexpr int kResumeSelected = -1;

// In the order the toolbar shows them. The tags follow the texts they name:
// "Options" is entry 137 and "Resume" 138, as the status hints of the toolbar
// expect.
constexpr std::array<ToolSpec, 10> kTools = {{
    {"AddURL", 130, "Add URL", "list-add", "add-url", Kestor::AddUrl},
    {"RemoveURL", 131, "Remove URL", "list-remove", "remove-url", Kestor::DeleteUrl},
    {"ResetList", 132, "Reset list", "edit-clear", "reset-list", Kestor::ResetList},
    {"Quit", 133, "Quit", "application-exit", "quit", Kestor::Quit},
    {"ResumeDownloads", 134, "Resume all", "media-seek-forward", "resume-all", Kestor::ResumeAll},
    {"PauseAll", 135, "Pause all", "media-playback-stop", "pause-all", Kestor::PauseAll},
    {"PauseDownload", 136, "Pause", "media-playback-pause", "pause", Kestor::PauseDownload},
    {"ResumeDownload", 138, "Resume", "media-playback-start", "resume", kResumeSelected},
    {"Browser", 139, "Browser", "web-browser", "browser", Kestor::Browser},
    {"Options", 137, "Options", "preferences-system", "options", Kestor::Options},
}};

}  // namespace

QAction* Kestor::action(const char* name, const QString& caption, void (Kestor::*run)()) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, run);
    return a;
}

QAction* Kestor::commandAction(const char* name, const QString& caption, int command) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, [this, command] { Command1_Click(command); });
    return a;
}

// An action that shows interface text `number`.
static QAction* tagged(QAction* action, int number) {
    SetTag(action, number);
    return action;
}

void Kestor::buildActions() {
    QAction* add = tagged(commandAction("mAddurl", tr("&Add URL..."), AddUrl), 120);
    add->setShortcut(QKeySequence::New);
    add->setIcon(ToolbarIcon(QStringLiteral("list-add"), QStringLiteral("add-url")));
    tagged(commandAction("mDeleteurl", tr("&Delete URL"), DeleteUrl), 121);
    tagged(action("mImportList", tr("&Import list..."), &Kestor::importList), 940);
    QAction* del = tagged(commandAction("delete", tr("&Delete Download"), DeleteUrl), 122);
    del->setShortcut(QKeySequence::Delete);
    del->setShortcutContext(Qt::WidgetShortcut);
    QAction* preferences =
        tagged(commandAction("mProperties", tr("&Preferences..."), Options), 123);
    preferences->setShortcut(QKeySequence::Preferences);
    QAction* exit = tagged(commandAction("mExit", tr("E&xit"), Quit), 124);
    exit->setShortcut(QKeySequence::Quit);
    exit->setIcon(ToolbarIcon(QStringLiteral("application-exit"), QStringLiteral("quit")));
    tagged(commandAction("mPausedl", tr("&Pause Download"), PauseDownload), 125);
    stopdl_ = tagged(commandAction("stopdl", tr("&Stop Download"), PauseDownload), 126);
    tagged(commandAction("mPauseall", tr("Pa&use All"), PauseAll), 127);
    tagged(commandAction("stopall", tr("Stop &All downloads"), PauseAll), 128);
    tagged(commandAction("mResumeall", tr("&Resume All"), ResumeAll), 129);
    tagged(commandAction("mResetlist", tr("&Reset List"), ResetList), 200);
    resumed_ = tagged(action("resumed", tr("&Resume Download"), &Kestor::resumeSelected), 201);
    tagged(action("previewmenu", tr("&Preview"), &Kestor::previewSelected), 239);
    // In place of Resume for an entry that finished while its row still stands.
    opene_ = tagged(action("opene", tr("&Open file"), &Kestor::openSelected), 117);
    opene_->setVisible(false);

    priorities_ = new QActionGroup(this);
    priorities_->setExclusive(true);
    const std::array<std::tuple<const char*, const char*, int, int>, 3> prio = {{
        {"PrioHigh", "High", 690, 2},
        {"PrioMiddle", "Middle", 691, 1},
        {"PrioLow", "Low", 692, 0},
    }};
    for (const auto& [name, caption, tag, priority] : prio) {
        auto* a = new QAction(QLatin1String(caption), this);
        a->setObjectName(QLatin1String(name));
        a->setCheckable(true);
        a->setData(priority);
        SetTag(a, tag);
        priorities_->addAction(a);
        connect(a, &QAction::triggered, this,
                [this, value = priority] { setSelectedPriority(value); });
    }

    // The entry's name keeps its historic spelling; the caption does not.
    shedulded_ = tagged(action("shedulded", tr("S&cheduled"), &Kestor::toggleSchedule), 202);
    shedulded_->setCheckable(true);
    QAction* clear =
        tagged(action("cleardown2", tr("&Clear download"), &Kestor::removeSelectedFinished), 203);
    clear->setShortcut(QKeySequence::Delete);
    clear->setShortcutContext(Qt::WidgetShortcut);
    tagged(action("clearall", tr("Clear all &download(s)"), &Kestor::removeAllFinished), 204);
    tagged(
        action("forceFileBuilding", tr("&Force File Building"), &Kestor::forceFileBuilding_Click),
        205);
    sdw_ = tagged(action("sdw", tr("&Show download windows"), &Kestor::toggleShowDownloadWindows),
                  206);
    sdw_->setCheckable(true);
    sdb_ = new QAction(tr("Show download &Basket"), this);
    sdb_->setObjectName(QStringLiteral("sdb"));
    sdb_->setCheckable(true);
    SetTag(sdb_, 110);
    buildAddressActions();

    // These act on the selected download and are greyed while nothing is
    // selected.
    for (const char* name :
         {"mDeleteurl", "delete", "mPausedl", "stopdl", "resumed", "previewmenu", "shedulded",
          "forceFileBuilding", "changeAddress", "PrioHigh", "PrioMiddle", "PrioLow"}) {
        needsSelection_ << findChild<QAction*>(QLatin1String(name));
    }
}

void Kestor::buildMenus() {
    auto find = [this](const char* name) { return findChild<QAction*>(QLatin1String(name)); };
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(tr("&File"));
    SetTag(file, 207);
    file->setObjectName(QStringLiteral("mFile"));
    file->addAction(find("mAddurl"));
    file->addAction(find("mImportList"));
    file->addAction(find("mDeleteurl"));
    file->addSeparator();
    file->addAction(find("mResetlist"));
    file->addSeparator();
    file->addAction(find("mExit"));

    auto* priority = new QMenu(tr("P&riority"), this);
    SetTag(priority, 208);
    priority->setObjectName(QStringLiteral("mPriority"));
    priority->addActions(priorities_->actions());

    QMenu* downloads = bar->addMenu(tr("&Downloads"));
    SetTag(downloads, 209);
    downloads->setObjectName(QStringLiteral("mDownloads"));
    downloads->addAction(find("mPausedl"));
    downloads->addAction(resumed_);
    downloads->addSeparator();
    downloads->addAction(find("mPauseall"));
    downloads->addAction(find("mResumeall"));
    downloads->addSeparator();
    downloads->addMenu(priority);
    downloads->addAction(shedulded_);
    downloads->addAction(find("forceFileBuilding"));
    downloads->addAction(changeAddress_);
    downloads->addSeparator();
    downloads->addAction(find("cleardown2"));
    downloads->addAction(find("clearall"));
    connect(downloads, &QMenu::aboutToShow, this, &Kestor::updateCommandStates);

    QMenu* options = bar->addMenu(tr("&Options"));
    SetTag(options, 210);
    options->setObjectName(QStringLiteral("mOptions"));
    options->addAction(find("mProperties"));
    options->addAction(sdw_);
    options->addAction(sdb_);

    QMenu* help = bar->addMenu(tr("&Help"));
    SetTag(help, 236);
    help->setObjectName(QStringLiteral("mHelp"));
    help->addAction(tagged(action("mAbout", tr("&About Brenloft"), &Kestor::about), 237));

    popup_ = new QMenu(this);
    popup_->setObjectName(QStringLiteral("popup"));
    popup_->addAction(opene_);
    popup_->addAction(resumed_);
    popup_->addAction(stopdl_);
    popup_->addAction(find("stopall"));
    popup_->addAction(find("previewmenu"));
    popup_->addSeparator();
    popup_->addMenu(priority);
    popup_->addAction(shedulded_);
    popup_->addSeparator();
    popup_->addAction(find("forceFileBuilding"));
    popup_->addAction(changeAddress_);
    popup_->addAction(openReferer_);
    popup_->addSeparator();
    popup_->addAction(find("delete"));
}

void Kestor::buildToolbar() {
    toolbar_ = addToolBar(tr("Toolbar"));
    SetTag(toolbar_, 211);
    toolbar_->setObjectName(QStringLiteral("Toolbar1"));
    toolbar_->setMovable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setIconSize(QSize(22, 22));
    for (const ToolSpec& tool : kTools) {
        auto* a =
            new QAction(ToolbarIcon(QLatin1String(tool.themeIcon), QLatin1String(tool.ownIcon)),
                        QLatin1String(tool.caption), this);
        a->setObjectName(QLatin1String(tool.key));
        a->setProperty("key", QLatin1String(tool.key));
        SetTag(a, tool.tag);
        if (tool.command == kResumeSelected) {
            connect(a, &QAction::triggered, this, &Kestor::resumeSelected);
        } else {
            connect(a, &QAction::triggered, this,
                    [this, command = tool.command] { Command1_Click(command); });
        }
        toolbar_->addAction(a);
        // Groups: the list, the downloads, the rest.
        if (std::string_view(tool.key) == "Quit" ||
            std::string_view(tool.key) == "ResumeDownload") {
            toolbar_->addSeparator();
        }
    }
}

void Kestor::buildCentre() {
    buildUnfinished();
    links_ = new UpdateLinks(
        ctx_,
        [this](const QString& text, const QString& title) {
            return ask(text, title, QMessageBox::Question);
        },
        [this](AddRequest& request) { add(request); }, openBrowser_);
    connect(links_, &UpdateLinks::hint, this, &Kestor::Status);
    auto* unfinishedPane = new QWidget;
    LayOutListPane(unfinishedPane, tr("Current downloads"), 212, "Label1", listView1_, links_);
    finishedPane_ = new FinishedPane(
        ctx_, [this](const QString& key) { return list_.record(findSlot(key, false)); },
        [this](const QString& text) {
            if (errorMessage_) {
                errorMessage_(text);
            }
        });
    QAction* clear = findChild<QAction*>(QStringLiteral("cleardown2"));
    finishedPane_->listView()->addAction(clear);
    finishedPane_->addMenuActions({clear, findChild<QAction*>(QStringLiteral("clearall"))});
    connect(finishedPane_, &FinishedPane::hint, this, &Kestor::Status);
    connect(finishedPane_, &FinishedPane::dragEnded, this, [this] {
        RefreshListView(0, true);
        RefreshDownList();
    });

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(unfinishedPane);
    splitter->addWidget(finishedPane_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    auto* centre = new QWidget;
    auto* layout = new QVBoxLayout(centre);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(8);
    layout->addWidget(splitter, 1);
    layout->addWidget(buildButtonRow());
    // The least size of the window is 10725 by 8000 twips, more when the button
    // row needs it.
    layout->addStrut(10725 / TwipsPerPixel - 16);
    setCentralWidget(centre);
    // Moves over the background put the links back to rest.
    centre->setMouseTracking(true);
    centre->installEventFilter(this);
    label1_ = centre->findChild<QLabel*>(QStringLiteral("Label1"));
    label1_->installEventFilter(this);
}

void Kestor::buildUnfinished() {
    unfinished_ = new UnfinishedListModel(ctx_.texts, this);
    unfinishedSorted_ = new ListSortProxy(this);
    listView1_ = NewSortedList("ListView1", unfinished_, unfinishedSorted_,
                               {214, 215, 216, 217, 218, 219, 220});
    listView1_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView1_->setItemDelegateForColumn(UnfinishedListModel::State,
                                         new ProgressDelegate(listView1_));
    listView1_->addAction(findChild<QAction*>(QStringLiteral("delete")));
    // Name and server share what the other columns leave as 24 to 18.
    listView1Flex_ = new FlexColumns(
        listView1_, {{UnfinishedListModel::Name, 24, 140}, {UnfinishedListModel::Host, 18, 90}});
    // Drops on the list go through eventFilter.
    listView1_->setAcceptDrops(true);
    listView1_->viewport()->setAcceptDrops(true);
    listView1_->viewport()->installEventFilter(this);
    connect(listView1_, &QTreeView::doubleClicked, this, &Kestor::listView1DoubleClicked);
    connect(listView1_, &QWidget::customContextMenuRequested, this, &Kestor::showListView1Menu);
    connect(listView1_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &Kestor::updateCommandStates);
}

QWidget* Kestor::buildButtonRow() {
    auto* strip = new QWidget;
    strip->setObjectName(QStringLiteral("Picture13"));
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < CommandCount; ++i) {
        auto* button = new QPushButton(QLatin1String(kButtons[i]), strip);
        button->setObjectName(QStringLiteral("Command1_%1").arg(i));
        button->setProperty("index", i);
        button->setAutoDefault(false);
        // Never narrower than the caption: the window's least width follows the
        // row.
        button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        SetTag(button, 100 + i);
        connect(button, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        buttons_[i] = button;
        row->addWidget(button);
    }
    auto* basket = new QPushButton(tr("Basket"), strip);
    basket->setObjectName(QStringLiteral("Command5"));
    basket->setAutoDefault(false);
    basket->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    SetTag(basket, 109);
    connect(basket, &QPushButton::clicked, this, [this] { sdb_->setChecked(true); });
    row->addWidget(basket);
    return strip;
}

void Kestor::buildStatusLine() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        panel->setContentsMargins(4, 0, 4, 0);
        panels_[i] = panel;
    }
    // A long message is cut, never widening the window.
    panels_[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(panels_[0], 1);
    const QFontMetrics metrics(panels_[1]->font());
    for (int i = 1; i < 3; ++i) {
        panels_[i]->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("Total: 9999.99 MB")) +
                                    16);
        panels_[i]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        bar->addPermanentWidget(panels_[i]);
    }
}

void Kestor::fitColumns() {
    const QString date = DateSample();
    const QString size = SizeSample(ctx_.texts);
    const TextTable& t = ctx_.texts;

    QHeaderView* h1 = listView1_->header();
    h1->resizeSection(UnfinishedListModel::Size,
                      ColumnWidth(listView1_, UnfinishedListModel::Size, {size}));
    h1->resizeSection(UnfinishedListModel::State,
                      ColumnWidth(listView1_, UnfinishedListModel::State,
                                  {t.text(301) + QStringLiteral(" 100.0%"),
                                   t.text(303) + QStringLiteral(" 100.0%"), t.text(302)}) +
                          16);
    h1->resizeSection(UnfinishedListModel::Added,
                      ColumnWidth(listView1_, UnfinishedListModel::Added, {date}));
    h1->resizeSection(
        UnfinishedListModel::TimeLeft,
        ColumnWidth(listView1_, UnfinishedListModel::TimeLeft, {QStringLiteral("00:00:00")}));
    h1->resizeSection(UnfinishedListModel::Priority,
                      ColumnWidth(listView1_, UnfinishedListModel::Priority,
                                  {t.text(690), t.text(691), t.text(692)}));
    listView1Flex_->fit();
    finishedPane_->fitColumns();
}
