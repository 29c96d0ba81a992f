#pragma once

// The main window over a real list, queue and engine in a sandbox (the shared rig). Running
// entries get real sessions whose probe goes to a listener that accepts and never answers, so
// they stay running until a command pauses or closes them. Every question is answered from a
// script; a session that asks anything here is a fault of the test's set-up.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTreeView>
#include <deque>
#include <memory>
#include <ostream>

#include "core/text/url_codec.h"
#include "engine/queue/download_queue.h"
#include "tests/support/engine_rig.h"
#include "tests/support/recording_views.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"
#include "ui/main_window/finished_list_model.h"
#include "ui/main_window/kestor.h"
#include "ui/main_window/unfinished_list_model.h"

namespace main_window_test {

// A loopback port that takes connections (the kernel completes them) and never says a word.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(fd_, 64) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    ~SilentListener() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int serverPort() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

enum class Kind { Running, Paused, Queued, Failed, Scheduled, Finished, FinishedMissing };

class MainWindowTest : public ::testing::Test, protected EngineRig {
protected:
    MainWindowTest() : EngineRig(EngineRigOptions{.pumpSockets = false}) {}

    void SetUp() override {
        settings.MaxSimulDownlads = 3;
        settings.SaveAs = FlagFalse;
        settings.ShowDownloadWindows = FlagFalse;
        ASSERT_NE(silent.serverPort(), 0);
        queue = std::make_unique<DownloadQueue>(ctx, windows);
    }

    // The window, over whatever the list holds now, with scripted dialogs and a clock of ours.
    Kestor& open() {
        window = std::make_unique<Kestor>(ctx, *queue, store,
                                          [this](const QString& url) { browsed << url; });
        window->setQuestion([this](const QString& text, const QString& title, QMessageBox::Icon) {
            questions << text;
            titles << title;
            return NextAnswer(answers, "question", text);
        });
        window->setErrorMessage([this](const QString& text) { errors << text; });
        window->setNote([this](const QString& text) { notes << text; });
        window->setTickSource([this] { return now; });
        return *window;
    }

    // An entry as the list holds it in that state. Unfinished ones have `parts` part files of
    // 100 bytes each, all there; finished ones a file in the download folder (or none).
    int add(const QString& name, Kind kind, int parts = 2) {
        DownloadRecord r;
        r.FileName = name;
        r.Url = QStringLiteral("http://127.0.0.1:%1/files/%2").arg(silent.serverPort()).arg(name);
        r.UrlPath = QStringLiteral("/files/") + name;
        r.HostName = QStringLiteral("127.0.0.1");
        r.Port = silent.serverPort();
        r.Active = FlagTrue;
        r.Priority = 1;
        r.DateAdded = OleDate::today();
        r.FileSize = Currency::fromBytes(100 * parts);
        r.Percent = 40;
        r.RangesSupported = FlagTrue;
        switch (kind) {
            case Kind::Running:
                break;  // started below
            case Kind::Paused:
                r.Paused = FlagTrue;
                break;
            case Kind::Queued:
                r.Queued = 1;
                break;
            case Kind::Failed:
                r.Failed = FlagTrue;
                break;
            case Kind::Scheduled:
                r.Scheduled = 1;
                break;
            case Kind::Finished:
            case Kind::FinishedMissing:
                r.Completed = FlagTrue;
                r.Percent = 100;
                r.SavePath = file(QStringLiteral("downloads/") + name);
                if (kind == Kind::Finished) {
                    EXPECT_TRUE(WriteFile(r.SavePath, QByteArray(100, 'f')));
                }
                break;
        }
        if (r.Completed != FlagTrue) {
            r.SegmentCount = static_cast<std::int16_t>(parts);
            r.Segments.redim(parts);
            for (int i = 1; i <= parts; ++i) {
                SegmentRecord& s = *r.Segments.at(i);
                s.PartFile =
                    file(QStringLiteral("temp/%1%2.tmp").arg(name).arg(i, 3, 10, QChar(u'0')));
                s.Length = Currency::fromBytes(100);
                s.StartPos = Currency::fromBytes(100 * (i - 1));
                s.EndPos = Currency::fromBytes(100 * i - 1);
                s.InPlan = FlagTrue;
                EXPECT_TRUE(WriteFile(s.PartFile, QByteArray(100, char('a' + i - 1))));
            }
        }
        list.DownloadList.append(r);
        list.DownloadCount = static_cast<std::int16_t>(list.DownloadList.size() - 1);
        const int slot = list.DownloadCount;
        if (kind == Kind::Running) {
            queue->StartSession(slot);
            EXPECT_TRUE(queue->hasSession(slot));
            EXPECT_EQ(StateOf(list.DownloadList[slot]), ListEntryState::Running);
        }
        return slot;
    }

    QString key(int slot) { return list.DownloadList[slot].Url; }
    static bool AllExist(const QStringList& paths) {
        return std::all_of(paths.begin(), paths.end(),
                           [](const QString& p) { return QFile::exists(p); });
    }
    static bool NoneExists(const QStringList& paths) {
        return std::none_of(paths.begin(), paths.end(),
                            [](const QString& p) { return QFile::exists(p); });
    }

    // The view's row (as sorted) for the entry, or -1.
    static int ViewRow(const QTreeView* view, const QString& key) {
        const QAbstractItemModel* model = view->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data(UnfinishedListModel::KeyRole).toString() == key) {
                return row;
            }
        }
        return -1;
    }
    static QString Cell(const QTreeView* view, const QString& key, int column,
                        int role = Qt::DisplayRole) {
        const int row = ViewRow(view, key);
        return row < 0 ? QString() : view->model()->index(row, column).data(role).toString();
    }
    static void Select(QTreeView* view, const QString& key) {
        const int row = ViewRow(view, key);
        ASSERT_GE(row, 0) << key.toStdString();
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                                QItemSelectionModel::NoUpdate);
    }
    static QStringList Keys(const QTreeView* view) {
        QStringList keys;
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            keys << view->model()->index(row, 0).data(UnfinishedListModel::KeyRole).toString();
        }
        return keys;
    }
    void trigger(const char* name) {
        QAction* a = window->findChild<QAction*>(QLatin1String(name));
        ASSERT_NE(a, nullptr) << name;
        a->trigger();
    }

    SilentListener silent;
    RecordingWindows windows;
    std::unique_ptr<DownloadQueue> queue;
    std::unique_ptr<Kestor> window;

    std::deque<bool> answers;  // for the window's own questions
    QStringList questions, titles;
    QStringList errors;
    QStringList notes;
    QStringList browsed;
    std::int32_t now = 1000000;
};

}  // namespace main_window_test
