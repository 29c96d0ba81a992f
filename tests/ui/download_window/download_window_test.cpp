// The download window as a view of real sessions against nginx on loopback: its rows, their
// states and bar colours, the pause button, the details button, rows held back while minimised,
// cancel, and the buttons of a finished file.
//
// With BRENLOFT_SHOTS set to a folder, the windows are also saved there as pictures at the
// points a user would look at them.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <memory>
#include <vector>

#include "core/text/format.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/nginx_peer.h"
#include "ui/download_window/download_window.h"
#include "ui/download_window/download_windows.h"
#include "ui/download_window/segment_rows_model.h"
#include "ui/download_window/window_placement.h"
#include "ui/language/apply_language.h"

using namespace session_test;
using namespace std::chrono_literals;

namespace {

const QColor Teal(0, 192, 192);
const QColor Blue(0, 0, 255);
const QColor Red(255, 0, 0);

constexpr qsizetype SmallSize = 40000;  // one segment
constexpr qsizetype LargeSize = 4 * 1024 * 1024;
// Per connection: a segment of the large file takes about ten seconds, so there is time to look
// at the rows while every segment receives.
constexpr std::int64_t Rate = 48 * 1024;

// What the download queue does for a session: hands its reports to the window and closes the
// window when the session ends.
class WindowFeed : public SessionObserver {
public:
    WindowFeed(DownloadWindows& windows, int slot) : windows_(windows), slot_(slot) {}

    SessionObserver* view = nullptr;
    int closes = 0;

    void fileLabelChanged(const QString& text) override {
        each([&](auto* v) { v->fileLabelChanged(text); });
    }
    void stateLabelChanged(const QString& text) override {
        each([&](auto* v) { v->stateLabelChanged(text); });
    }
    void progressChanged() override {
        each([](auto* v) { v->progressChanged(); });
    }
    void segmentsPlanned(int count) override {
        each([&](auto* v) { v->segmentsPlanned(count); });
    }
    void segmentRowsChanged(int segment) override {
        each([&](auto* v) { v->segmentRowsChanged(segment); });
    }
    void pauseButtonChanged(bool enabled, const QString& caption) override {
        each([&](auto* v) { v->pauseButtonChanged(enabled, caption); });
    }
    void zipPreviewOffered(const QString& caption) override {
        each([&](auto* v) { v->zipPreviewOffered(caption); });
    }
    void downloadFinished(const QString& open, const QString& folder) override {
        each([&](auto* v) { v->downloadFinished(open, folder); });
    }
    void entryChanged(int slot) override {
        each([&](auto* v) { v->entryChanged(slot); });
    }
    void sessionClosed(const QString& why) override {
        ++closes;
        if (view != nullptr) {
            view->sessionClosed(why);
            view = nullptr;
            windows_.closeView(slot_);
        }
    }

private:
    template <typename Call>
    void each(Call call) {
        if (view != nullptr) {
            call(view);
        }
    }

    DownloadWindows& windows_;
    int slot_;
};

struct ShownDownload {
    ShownDownload(DownloadWindows& windows, int slot) : slot(slot), feed(windows, slot) {}
    int slot;
    WindowFeed feed;
    std::unique_ptr<DownloadSession> session;
};

// The window's controls as a user finds them.
struct Looks {
    Looks(Kestor2& w, const TextTable& texts)
        : window(w),
          text526(texts.text(526)),
          rows(*w.findChild<QTreeView*>(QStringLiteral("SegmentList"))->model()),
          state(*w.findChild<QLabel*>(QStringLiteral("StateLabel"))),
          pb(*w.findChild<QProgressBar*>(QStringLiteral("PB"))),
          details(*w.findChild<QGroupBox*>(QStringLiteral("SegmentFrame"))),
          command1(*w.findChild<QPushButton*>(QStringLiteral("Command1"))),
          command2(*w.findChild<QPushButton*>(QStringLiteral("Command2"))),
          command3(*w.findChild<QPushButton*>(QStringLiteral("Command3"))),
          command4(*w.findChild<QPushButton*>(QStringLiteral("Command4"))) {}

    QString label(const char* name) const {
        return window.findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    QString cell(int row, int column) const { return rows.index(row, column).data().toString(); }
    QColor colour(int row) const {
        return rows.index(row, SegmentRowsModel::Prog)
            .data(SegmentRowsModel::BarColourRole)
            .value<QColor>();
    }
    double fraction(int row) const {
        return rows.index(row, SegmentRowsModel::Prog)
            .data(SegmentRowsModel::FractionRole)
            .toDouble();
    }
    // "1 Receiving #00c0c0 | 2 ...", for readable failures.
    std::string describe() const {
        QStringList shown;
        for (int r = 0; r < rows.rowCount(); ++r) {
            shown << QStringLiteral("%1 %2 %3")
                         .arg(cell(r, SegmentRowsModel::Num), cell(r, SegmentRowsModel::StateS),
                              colour(r).name());
        }
        return shown.join(QStringLiteral(" | ")).toStdString();
    }
    // Eight segments receive, and once the last is connected the pause button is offered.
    bool allReceiving() const {
        return rows.rowCount() == 8 && allRows(text526, QColor(0, 192, 192)) &&
               command3.isEnabled();
    }
    // Every row shows this state text in this bar colour.
    bool allRows(const QString& text, const QColor& colour) const {
        for (int r = 0; r < rows.rowCount(); ++r) {
            if (cell(r, SegmentRowsModel::StateS) != text || this->colour(r) != colour) {
                return false;
            }
        }
        return rows.rowCount() > 0;
    }

    Kestor2& window;
    QString text526;
    QAbstractItemModel& rows;
    QLabel& state;
    QProgressBar& pb;
    QGroupBox& details;
    QPushButton& command1;
    QPushButton& command2;
    QPushButton& command3;
    QPushButton& command4;
};

// As the user clicks: from the event loop, so what the click leaves to the loop (a window
// deleted later) is done there as in the program.
void Click(QPushButton& button) {
    bool delivered = false;
    QTimer::singleShot(0, &button, [&] {
        QTest::mouseClick(&button, Qt::LeftButton);
        delivered = true;
    });
    ASSERT_TRUE(WaitFor([&] { return delivered; }, 5s)) << button.objectName().toStdString();
}

void Shot(QWidget& window, const QString& name) {
    const QString folder = qEnvironmentVariable("BRENLOFT_SHOTS");
    if (folder.isEmpty()) {
        return;
    }
    // Layouts that the last texts asked for are done before the picture, as before a paint.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    window.grab().save(QStringLiteral("%1/%2-x%3.png").arg(folder, name, scale));
}

class DownloadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/small.zip"), RandomBytes(SmallSize)));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/large.bin"), RandomBytes(LargeSize)));
        nginx = std::make_unique<NginxPeer>(served);
        nginx->addRateLimitedLocation(QStringLiteral("/slow/"), Rate);
        // A third of that for the small file: a few seconds of its one segment.
        nginx->addRateLimitedLocation(QStringLiteral("/slower/"), Rate / 3);
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
        engine = std::make_unique<Engine>(box.path());
        engine->settings.MaxSegments = 8;
        windows =
            std::make_unique<DownloadWindows>(engine->list, engine->texts, engine->ctx.openUrl);
    }

    void TearDown() override {
        downloads.clear();
        windows.reset();
        WaitFor([] { return false; }, 50ms);  // windows handed to the event loop go now
        engine.reset();
    }

    // Starts the address (a path on nginx, or a whole address) as the queue does, with its
    // window shown.
    ShownDownload& start(const QString& path) {
        const int slot = engine->add(path.startsWith(u'/') ? nginx->url(path) : path);
        DownloadRecord& r = engine->list.DownloadList[slot];
        auto d = std::make_unique<ShownDownload>(*windows, slot);
        d->session = std::make_unique<DownloadSession>(engine->ctx, d->feed);
        d->session->AttachRecord(slot);
        d->feed.view = windows->openView(slot, *d->session);
        windows->showView(slot);
        d->session->InitConnection();
        r.Running = FlagTrue;
        downloads.push_back(std::move(d));
        return *downloads.back();
    }

    DownloadRecord& record(const ShownDownload& d) { return engine->list.DownloadList[d.slot]; }
    QString text(int number) const { return engine->texts.text(number); }

    Sandbox box;
    QString served;
    std::unique_ptr<NginxPeer> nginx;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<DownloadWindows> windows;
    std::vector<std::unique_ptr<ShownDownload>> downloads;
};

// A small file has one row. While it comes in, the figures fill and, for a ".zip", the first
// button offers the remote listing; once built, the window outlives its session with buttons
// that open the file and its folder, and goes when the user closes it.
TEST_F(DownloadWindowTest, OneSegmentAndTheFinishedFileButtons) {
    ShownDownload& d = start(QStringLiteral("/slower/small.zip"));
    DownloadRecord& r = record(d);
    Kestor2* window = windows->window(d.slot);
    ASSERT_NE(window, nullptr);
    Looks looks(*window, engine->texts);
    EXPECT_FALSE(looks.command1.isVisible()) << "nothing to open before the file is built";

    ASSERT_TRUE(WaitFor([&] { return !looks.label("Speed").isEmpty() && r.Percent < 100; }, 20s))
        << "figures while the data flows";
    EXPECT_EQ(looks.rows.rowCount(), 1);
    EXPECT_EQ(looks.cell(0, SegmentRowsModel::Num), QStringLiteral("1"));
    EXPECT_EQ(looks.cell(0, SegmentRowsModel::StateS), text(526));
    EXPECT_EQ(looks.colour(0), Teal);
    EXPECT_GT(looks.fraction(0), 0);
    EXPECT_LT(looks.fraction(0), 1);
    EXPECT_EQ(looks.state.text(), text(534));
    EXPECT_TRUE(looks.label("Speed").endsWith(QStringLiteral("/s")))
        << looks.label("Speed").toStdString();
    EXPECT_EQ(looks.label("TotalLabel"),
              QStringLiteral("/ ") + FormatSize(Currency::fromBytes(SmallSize), engine->texts));
    EXPECT_FALSE(looks.label("Ela").isEmpty());
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral("% of small.zip downloaded")))
        << window->windowTitle().toStdString();
    EXPECT_LT(looks.pb.value(), 100);
    Shot(*window, QStringLiteral("one-segment-progress"));

    std::vector<int> previews;
    windows->setZipPreview([&](int slot) {
        previews.push_back(slot);
        return true;
    });
    ASSERT_TRUE(WaitFor([&] { return looks.command1.isVisible() || r.Percent >= 100; }, 20s));
    ASSERT_LT(r.Percent, 100) << "offered while the file comes in";
    EXPECT_EQ(looks.command1.text(), text(768));
    Click(looks.command1);
    EXPECT_EQ(previews, std::vector<int>{d.slot});

    ASSERT_TRUE(WaitFor([&] { return d.feed.closes > 0; }, 30s));
    ASSERT_TRUE(window->finished());
    ASSERT_EQ(windows->openWindows(), QList<QWidget*>{window}) << "the finished window stays";
    EXPECT_FALSE(window->hasSession());
    EXPECT_EQ(windows->window(d.slot), nullptr) << "the slot is free for a new session";
    EXPECT_EQ(looks.rows.rowCount(), 1);
    EXPECT_EQ(looks.cell(0, SegmentRowsModel::StateS), text(527));
    EXPECT_EQ(looks.colour(0), Blue);
    EXPECT_EQ(looks.fraction(0), 1.0);
    EXPECT_EQ(looks.cell(0, SegmentRowsModel::Size),
              FormatSize(Currency::fromBytes(SmallSize), engine->texts));
    EXPECT_EQ(looks.state.text(), text(521));
    EXPECT_EQ(looks.pb.value(), 100);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("100.0% of small.zip downloaded"));
    EXPECT_TRUE(looks.command1.isVisible());
    EXPECT_EQ(looks.command1.text(), text(784));
    EXPECT_EQ(looks.command3.text(), text(785));
    Shot(*window, QStringLiteral("one-segment-done"));

    ASSERT_EQ(r.SavePath, engine->downloads() + QStringLiteral("small.zip"));
    Click(looks.command1);
    Click(looks.command3);
    EXPECT_EQ(engine->opened, (QStringList{r.SavePath, engine->downloads()}));

    QPointer<Kestor2> closing(window);
    window->close();
    EXPECT_TRUE(WaitFor([&] { return closing.isNull(); }, 5s)) << "closed for good";
    EXPECT_TRUE(windows->openWindows().isEmpty());
}

// A download that cannot connect keeps its window, which says why; trying again replaces it.
TEST_F(DownloadWindowTest, AFailedDownloadSaysWhyUntilItIsTriedAgain) {
    // A port that was bound a moment ago and has nobody listening now.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(fd);
    const QString url = QStringLiteral("http://127.0.0.1:%1/gone.bin").arg(ntohs(address.sin_port));
    ShownDownload& d = start(url);
    QPointer<Kestor2> window(windows->window(d.slot));
    ASSERT_TRUE(WaitFor([&] { return d.feed.closes > 0; }, 30s));
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->failed());
    EXPECT_EQ(windows->openWindows(), QList<QWidget*>{window.data()});
    Looks looks(*window, engine->texts);
    EXPECT_EQ(looks.state.text(), text(111) + u' ' + text(113));
    Shot(*window, QStringLiteral("failed"));
    // A reason that repeats a pasted address of 2,000 characters keeps the window on the screen.
    window->sessionClosed(QStringLiteral("HTTP 404: The file /") + QString(2000, u'x'));
    window->adjustSize();
    EXPECT_LE(window->width(), window->screen()->availableGeometry().width());
    // Refused after some bytes came, the link expired: it asks for a new address.
    record(d).BytesDone = Currency::fromBytes(1000);
    MarkFailed(record(d), 403);
    window->sessionClosed(QStringLiteral("HTTP 403: Forbidden"));
    EXPECT_EQ(looks.state.text(), text(1341));
    int changed = 0;
    windows->setChangeAddress([&](int slot) { changed = slot; });
    window->findChild<QPushButton*>(QStringLiteral("ChangeAddress"))->click();
    EXPECT_EQ(changed, d.slot);

    // From the event loop, as the queue starts a session.
    DownloadSession again(engine->ctx, d.feed);
    again.AttachRecord(d.slot);
    QTimer::singleShot(0, [&] { d.feed.view = windows->openView(d.slot, again); });
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); }, 5s)) << "the old window gave way";
    EXPECT_EQ(windows->openWindows().size(), 1);
    d.feed.view = nullptr;
    windows->closeView(d.slot);
}

// A large file has eight rows. The pause button pauses (rows red) and resumes; closing the window
// of a running download only hides it; at the end every row is complete and blue.
// Windows open inside the screen's available area, beside each other; Escape closes one.
TEST_F(DownloadWindowTest, WindowsOpenApartInsideTheScreenAndEscapeClosesOne) {
    ShownDownload& first = start(QStringLiteral("/slow/large.bin"));
    ShownDownload& second = start(QStringLiteral("/slower/small.zip"));
    Kestor2* a = windows->window(first.slot);
    Kestor2* b = windows->window(second.slot);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const QRect area = a->screen()->availableGeometry();
    for (const Kestor2* w : {a, b}) {
        EXPECT_TRUE(area.contains(w->frameGeometry().topLeft())) << w->slot();
        EXPECT_TRUE(area.contains(w->frameGeometry().bottomRight()) || w->width() > area.width() ||
                    w->height() > area.height())
            << w->slot();
    }
    EXPECT_NE(a->pos(), b->pos());
    EXPECT_FALSE(a->frameGeometry().intersects(b->frameGeometry()) &&
                 a->frameGeometry().topLeft() == b->frameGeometry().topLeft());

    QTest::keyClick(b, Qt::Key_Escape);
    EXPECT_FALSE(b->isVisible());
    EXPECT_TRUE(a->isVisible());
    EXPECT_EQ(windows->window(second.slot), b) << "a running download keeps its window";
}

TEST(DownloadWindowPosition, SideBySideWithinTheAreaThenAgainShifted) {
    const QRect area(0, 30, 1000, 700);  // a panel of 30 pixels at the top
    const QSize size(400, 300);
    struct Case {
        int index;
        QPoint at;
    };
    for (const Case& c : {
             Case{0, {0, 30}}, Case{1, {408, 30}}, Case{2, {0, 338}}, Case{3, {408, 338}},
             Case{4, {24, 54}},  // the area is full: again, a step down and right
         }) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(DownloadWindowPosition(c.index, size, area), c.at);
    }
    // A window larger than the area takes its top left.
    EXPECT_EQ(DownloadWindowPosition(3, QSize(2000, 900), area), QPoint(0, 30));
    // An area beside the first screen.
    EXPECT_EQ(DownloadWindowPosition(1, size, QRect(1920, 0, 1280, 1024)), QPoint(2328, 0));
}

TEST_F(DownloadWindowTest, EightRowsPauseResumeAndComplete) {
    ShownDownload& d = start(QStringLiteral("/slow/large.bin"));
    DownloadRecord& r = record(d);
    Kestor2* window = windows->window(d.slot);
    ASSERT_NE(window, nullptr);
    Looks looks(*window, engine->texts);

    ASSERT_TRUE(WaitFor([&] { return looks.allReceiving(); }, 30s))
        << "all eight segments receive: " << looks.describe();
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(looks.cell(row, SegmentRowsModel::Num), QString::number(row + 1));
    }
    EXPECT_EQ(looks.command3.text(), text(782));
    Shot(*window, QStringLiteral("eight-segments-progress"));

    Click(looks.command3);
    EXPECT_EQ(StateOf(r), ListEntryState::Paused);
    EXPECT_EQ(looks.command3.text(), text(781));
    EXPECT_EQ(looks.state.text(), text(528));
    EXPECT_TRUE(looks.allRows(text(528), Red)) << looks.describe();
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(looks.cell(row, SegmentRowsModel::Size),
                  FormatSize(r.Segments.at(row + 1)->Done, engine->texts))
            << "row " << row + 1 << " shows what its part file holds";
    }
    Shot(*window, QStringLiteral("eight-segments-paused"));

    Click(looks.command3);
    EXPECT_FALSE(HeldByPause(r));
    EXPECT_EQ(looks.command3.text(), text(782));
    ASSERT_TRUE(WaitFor([&] { return looks.allReceiving(); }, 30s))
        << "receiving again: " << looks.describe();

    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(windows->window(d.slot), window) << "a running download keeps its window";
    windows->showView(d.slot);
    EXPECT_TRUE(window->isVisible());

    ASSERT_TRUE(WaitFor([&] { return d.feed.closes > 0; }, 60s));
    ASSERT_TRUE(window->finished());
    EXPECT_EQ(looks.rows.rowCount(), 8);
    EXPECT_TRUE(looks.allRows(text(527), Blue)) << looks.describe();
    EXPECT_EQ(FileSha256(r.SavePath), FileSha256(served + QStringLiteral("/large.bin")));
    EXPECT_EQ(looks.command1.text(), text(784));
    EXPECT_EQ(looks.command3.text(), text(785));
    Shot(*window, QStringLiteral("eight-segments-done"));
}

// Rows are not redrawn while hidden by the details button or while the window is minimised, and
// catch up when they show again. A language switch captions the buttons by what they show now.
// Cancel ends the session and closes the window; the entry stays, paused.
TEST_F(DownloadWindowTest, HeldBackRowsDetailsLanguageAndCancel) {
    ShownDownload& d = start(QStringLiteral("/slow/large.bin"));
    DownloadRecord& r = record(d);
    Kestor2* window = windows->window(d.slot);
    ASSERT_NE(window, nullptr);
    Looks looks(*window, engine->texts);
    ASSERT_TRUE(WaitFor([&] { return looks.allReceiving(); }, 30s)) << looks.describe();

    const int fullHeight = window->height();
    Click(looks.command4);
    EXPECT_EQ(looks.command4.text(), text(516));
    EXPECT_FALSE(looks.details.isVisible());
    EXPECT_LT(window->height(), fullHeight);
    EXPECT_TRUE(window->rowsSuspended());
    Shot(*window, QStringLiteral("details-hidden"));
    Click(looks.command3);
    EXPECT_TRUE(looks.allRows(text(526), Teal))
        << "hidden rows are left as they were" << looks.describe();
    Click(looks.command4);
    EXPECT_EQ(looks.command4.text(), text(515));
    EXPECT_TRUE(looks.details.isVisible());
    EXPECT_EQ(window->height(), fullHeight);
    EXPECT_TRUE(looks.allRows(text(528), Red)) << "shown again, they catch up" << looks.describe();

    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    EXPECT_TRUE(window->rowsSuspended());
    Click(looks.command3);
    ASSERT_TRUE(WaitFor(
        [&] {
            for (int j = 1; j <= 8; ++j) {
                if (r.Segments.at(j)->State != SegmentState::Receiving) {
                    return false;
                }
            }
            return looks.command3.isEnabled();
        },
        30s));
    EXPECT_TRUE(looks.allRows(text(528), Red))
        << "no row is drawn while minimised" << looks.describe();
    window->showNormal();
    EXPECT_FALSE(window->rowsSuspended());
    EXPECT_EQ(looks.cell(0, SegmentRowsModel::StateS), text(526));
    EXPECT_EQ(looks.colour(0), Teal);

    Click(looks.command3);
    ASSERT_EQ(looks.command3.text(), text(781));
    TextTable french = engine->texts;
    ASSERT_TRUE(LoadLanguage(french, QStringLiteral("francais"),
                             {SourcePath(QStringLiteral("data/lang"))}));
    ReapplyLanguage(windows->openWindows(), french);
    EXPECT_EQ(looks.command3.text(), french.text(781)) << "still the resume caption";
    EXPECT_EQ(looks.command4.text(), french.text(515));

    QPointer<Kestor2> closing(window);
    Click(looks.command2);
    EXPECT_EQ(d.feed.closes, 1);
    EXPECT_TRUE(WaitFor([&] { return closing.isNull(); }, 5s));
    EXPECT_TRUE(windows->openWindows().isEmpty());
    EXPECT_EQ(StateOf(r), ListEntryState::Paused) << "the entry stays in the list";
}

}  // namespace
