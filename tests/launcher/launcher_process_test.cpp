#include <gtest/gtest.h>

#include <signal.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <vector>

#include "core/settings/browser_hook_files.h"
#include "launcher/native_message.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/sandbox.h"

namespace {

const QString Chromium = QStringLiteral("chrome-extension://knldjmfmopnpolahpmmgbagdohdnhkik/");
const QStringList Firefox = {QStringLiteral("/usr/lib/mozilla/native-messaging-hosts/velmora.json"),
                             QStringLiteral("brenloft@example.org")};

QByteArray UrlMessage(const QString& url) {
    return Framed(QJsonDocument(QJsonObject{{QStringLiteral("url"), url}}).toJson());
}

QJsonObject Result(int result) {
    return {{QStringLiteral("result"), result}};
}

bool IsError(const QJsonObject& answer) {
    return answer.size() == 1 && answer.value(QLatin1String("error")).isString() &&
           !answer.value(QLatin1String("error")).toString().isEmpty();
}

// Ended by itself with this code and wrote nothing to stderr: sanitizer reports land there.
void ExpectQuietEnd(const LauncherRun& run, int exitCode) {
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, QByteArray());
}

// Starts by the launcher are detached: their marks come once they come.
QStringList WaitForMarks(const QString& mark, int count) {
    WaitFor([&] { return FileLines(mark).size() >= count; }, std::chrono::seconds(30));
    return FileLines(mark);
}

struct LauncherTest : ::testing::Test {
    Sandbox box;
    const QString record = box.file(QStringLiteral("record"));
    const QString mark = box.file(QStringLiteral("mark"));
    const QString brenloft = WriteMarkScript(box, mark);
};

struct LauncherOnBus : LauncherTest {
    void SetUp() override { ASSERT_TRUE(bus.start()) << "dbus-daemon did not start"; }
    QProcessEnvironment environment() const { return LauncherEnvironment(bus.address(), brenloft); }
    void startStandIn() { ASSERT_TRUE(standIn.start(bus.address(), record)); }

    PrivateSessionBus bus{box};
    VelmoraStandIn standIn;
};

}  // namespace

TEST_F(LauncherOnBus, EmptyCommandLineNeitherCallsNorStarts) {
    startStandIn();
    for (const QStringList& arguments : {QStringList{}, QStringList{QString()}}) {
        const LauncherRun onBus = RunLauncher(arguments, environment());
        ExpectQuietEnd(onBus, 0);
        EXPECT_TRUE(onBus.out.isEmpty());
        ExpectQuietEnd(RunLauncher(arguments, LauncherEnvironment({}, brenloft)), 0);
    }
    EXPECT_EQ(FileLines(record), QStringList());
    // A start the empty runs made would have left its mark before this one's.
    ExpectQuietEnd(RunLauncher({QStringLiteral("sentinel")}, LauncherEnvironment({}, brenloft)), 0);
    EXPECT_EQ(WaitForMarks(mark, 1), QStringList{QStringLiteral("1 [sentinel]")});
}

TEST_F(LauncherOnBus, HandsTheArgumentsOverJoinedAndOtherwiseUntouched) {
    startStandIn();
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{QStringLiteral("http://example.com/a"), QStringLiteral("b"), QStringLiteral("c.zip")},
         QStringLiteral("http://example.com/a b c.zip")},
        {{QStringLiteral("http://example.com/x"), QString(), QStringLiteral("y")},
         QStringLiteral("http://example.com/x  y")},
        {{QStringLiteral(" http://example.com/"), QString()},
         QStringLiteral(" http://example.com/ ")},
        {{QStringLiteral("\"http://example.com/quoted file.zip\"")},
         QStringLiteral("\"http://example.com/quoted file.zip\"")},
        {{QStringLiteral("FTP://example.com/pub/ä.iso")},
         QStringLiteral("FTP://example.com/pub/ä.iso")},
    };
    QStringList expected;
    for (const auto& [arguments, joined] : cases) {
        const LauncherRun run = RunLauncher(arguments, environment());
        ExpectQuietEnd(run, 0);
        EXPECT_TRUE(run.out.isEmpty());
        expected << joined;
    }
    EXPECT_EQ(FileLines(record), expected);
    EXPECT_EQ(FileLines(mark), QStringList()) << "the service answered: nothing to start";
}

TEST_F(LauncherOnBus, BusStartsTheServiceItCalls) {
    ASSERT_TRUE(
        bus.addVelmoraActivation(QStringLiteral(VELMORA_STAND_IN), {bus.address(), record}));
    ASSERT_EQ(bus.velmoraOwner(), 0);
    ExpectQuietEnd(RunLauncher({QStringLiteral("http://example.com/activated")}, environment()), 0);
    EXPECT_EQ(FileLines(record), QStringList{QStringLiteral("http://example.com/activated")});
    EXPECT_EQ(FileLines(mark), QStringList());
    const qint64 activated = bus.velmoraOwner();
    ASSERT_GT(activated, 0);
    ::kill(static_cast<pid_t>(activated), SIGTERM);
}

TEST_F(LauncherOnBus, StartsBrenloftWhenNoServiceCanTakeTheCall) {
    // No one owns the name and there is no activation file.
    ExpectQuietEnd(
        RunLauncher({QStringLiteral("http://example.com/a"), QStringLiteral("b")}, environment()),
        0);
    EXPECT_EQ(WaitForMarks(mark, 1), QStringList{QStringLiteral("1 [http://example.com/a b]")});
    // The activation file names a program that is gone.
    ASSERT_TRUE(bus.addVelmoraActivation(box.file(QStringLiteral("moved-away")), {}));
    ExpectQuietEnd(RunLauncher({QStringLiteral("ftp://example.com/f")}, environment()), 0);
    EXPECT_EQ(WaitForMarks(mark, 2).value(1), QStringLiteral("1 [ftp://example.com/f]"));
}

TEST_F(LauncherTest, WithoutASessionBusStartsBrenloftWithTheWholeString) {
    const QString nowhere = QStringLiteral("unix:path=") + box.file(QStringLiteral("no-bus"));
    ExpectQuietEnd(RunLauncher({QStringLiteral("\"http://example.com/a"), QStringLiteral("b\"")},
                               LauncherEnvironment({}, brenloft)),
                   0);
    ExpectQuietEnd(RunLauncher({QStringLiteral("ftp://example.com/f")},
                               LauncherEnvironment(nowhere, brenloft)),
                   0);
    QStringList marks = WaitForMarks(mark, 2);
    marks.sort();
    EXPECT_EQ(marks, (QStringList{QStringLiteral("1 [\"http://example.com/a b\"]"),
                                  QStringLiteral("1 [ftp://example.com/f]")}));

    // Nothing reached Brenloft: the only failure the launcher reports.
    ExpectQuietEnd(RunLauncher({QStringLiteral("http://example.com/")},
                               LauncherEnvironment({}, box.file(QStringLiteral("missing")))),
                   1);
}

TEST_F(LauncherOnBus, NativeHostAnswersEachMessageInItsOwnFrame) {
    startStandIn();
    const QByteArray input = UrlMessage(QStringLiteral("http://example.com/one")) +
                             UrlMessage(QStringLiteral("mailto:someone@example.com"));
    for (const QStringList& arguments :
         {QStringList{Chromium}, QStringList{Chromium, QStringLiteral("--parent-window=0")},
          Firefox}) {
        const LauncherRun run = RunLauncher(arguments, environment(), input);
        ExpectQuietEnd(run, 0);
        EXPECT_EQ(Answers(run.out), (std::vector<QJsonObject>{Result(1), Result(0)}));
    }
    EXPECT_EQ(FileLines(record).size(), 6);
}

TEST_F(LauncherOnBus, NativeHostAnswersMalformedMessagesAndGoesOn) {
    startStandIn();
    const QByteArray input = Framed("{\"url\": \"http://example.com/") + Framed("[\"http://x/\"]") +
                             Framed("{\"href\": \"http://x/\"}") + Framed("{\"url\": 7}") +
                             Framed({}) + UrlMessage(QStringLiteral("ftp://example.com/f"));
    const LauncherRun run = RunLauncher({Chromium}, environment(), input);
    ExpectQuietEnd(run, 0);
    const std::vector<QJsonObject> answers = Answers(run.out);
    ASSERT_EQ(answers.size(), 6u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(IsError(answers[i])) << i;
    }
    EXPECT_EQ(answers[5], Result(1));
    EXPECT_EQ(FileLines(record), QStringList{QStringLiteral("ftp://example.com/f")});
}

TEST_F(LauncherOnBus, NativeHostEndsWhereTheStreamBreaks) {
    startStandIn();
    const QByteArray good = UrlMessage(QStringLiteral("http://example.com/before"));
    const QByteArray after = UrlMessage(QStringLiteral("http://example.com/after"));
    for (const QByteArray& broken :
         {Header(NativeMessage::MaxLength + 1) + QByteArray(64, '{') + after,
          Header(200) + "{\"url\": \"http://example.com/", Header(10).left(3)}) {
        const LauncherRun run = RunLauncher(Firefox, environment(), good + broken);
        ExpectQuietEnd(run, 1);
        const std::vector<QJsonObject> answers = Answers(run.out);
        ASSERT_EQ(answers.size(), 2u);
        EXPECT_EQ(answers[0], Result(1));
        EXPECT_TRUE(IsError(answers[1]));
    }
    EXPECT_EQ(FileLines(record), QStringList(3, QStringLiteral("http://example.com/before")));
}

TEST_F(LauncherOnBus, NativeHostSurvivesRandomBytes) {
    startStandIn();
    QRandomGenerator random(7);
    for (int round = 0; round < 8; ++round) {
        // Short frames first, so that noise gets past the framing into the decoding.
        QByteArray input;
        for (int frame = 0; frame < 4; ++frame) {
            input += Framed(RandomBytes(random, random.bounded(1, 200)));
        }
        input += RandomBytes(random, random.bounded(4096));
        const LauncherRun run = RunLauncher({Chromium}, environment(), input);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.status, QProcess::NormalExit);
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode;
        EXPECT_EQ(run.err, QByteArray());
        EXPECT_GE(Answers(run.out).size(), 4u);
    }
}

TEST_F(LauncherTest, NativeHostWithoutABusStartsBrenloftForEachMessage) {
    const QByteArray input = UrlMessage(QStringLiteral("http://example.com/1")) +
                             UrlMessage(QStringLiteral("http://example.com/2 x"));
    const LauncherRun run = RunLauncher({Chromium}, LauncherEnvironment({}, brenloft), input);
    ExpectQuietEnd(run, 0);
    const QJsonObject started{{QStringLiteral("started"), true}};
    EXPECT_EQ(Answers(run.out), (std::vector<QJsonObject>{started, started}));
    QStringList marks = WaitForMarks(mark, 2);
    marks.sort();
    EXPECT_EQ(marks, (QStringList{QStringLiteral("1 [http://example.com/1]"),
                                  QStringLiteral("1 [http://example.com/2 x]")}));
    // The host's stdout carries the answers: nothing else may write into it.
    EXPECT_EQ(FileLines(mark + QStringLiteral(".streams")),
              QStringList(2, QStringLiteral("/dev/null /dev/null /dev/null")));

    const LauncherRun unreachable = RunLauncher(
        {Chromium}, LauncherEnvironment({}, box.file(QStringLiteral("missing"))), input);
    ExpectQuietEnd(unreachable, 0);
    const std::vector<QJsonObject> answers = Answers(unreachable.out);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_TRUE(answers[0]
                    .value(QLatin1String("error"))
                    .toString()
                    .startsWith(QLatin1String("Brenloft is not reachable")));
}

// The menu entry's links and the browser's downloads reach MenuURL with their page and
// cookies; a download whose address IEURL would refuse is answered 0 without a call, so the
// browser keeps it. Without a bus Brenloft is started with the address alone.
TEST_F(LauncherOnBus, NativeHostHandsPagesAndCookiesToMenuUrl) {
    startStandIn();
    const auto message = [](const QString& url, const char* via, const QString& cookie) {
        return Framed(QJsonDocument(QJsonObject{{QStringLiteral("url"), url},
                                                {QStringLiteral("via"), QLatin1String(via)},
                                                {QStringLiteral("referrer"),
                                                 QStringLiteral("https://site.example/p")},
                                                {QStringLiteral("cookie"), cookie}})
                          .toJson());
    };
    const QString link = QStringLiteral("http://example.com/menu.zip");
    const QString download = QStringLiteral("HTTPS://example.com/d.iso");
    const QByteArray input = message(link, "menu", QStringLiteral("sid=1; é=2")) +
                             message(QStringLiteral("blob:https://site.example/1"), "download",
                                     QStringLiteral("sid=1")) +
                             message(download, "download", {}) +
                             message(QStringLiteral("mailto:x@example.com"), "menu", {});
    const LauncherRun run = RunLauncher(Firefox, environment(), input);
    ExpectQuietEnd(run, 0);
    EXPECT_EQ(Answers(run.out),
              (std::vector<QJsonObject>{Result(1), Result(0), Result(1), Result(1)}));
    EXPECT_EQ(
        FileLines(record),
        (QStringList{QStringLiteral("MenuURL\t%1\thttps://site.example/p\tsid=1; é=2").arg(link),
                     QStringLiteral("MenuURL\t%1\thttps://site.example/p\t").arg(download),
                     QStringLiteral("MenuURL\tmailto:x@example.com\thttps://site.example/p\t")}));

    const LauncherRun alone = RunLauncher({Chromium}, LauncherEnvironment({}, brenloft),
                                          message(link, "download", QStringLiteral("sid=1")));
    ExpectQuietEnd(alone, 0);
    const QJsonObject started{{QStringLiteral("started"), true}};
    EXPECT_EQ(Answers(alone.out), std::vector<QJsonObject>{started});
    EXPECT_EQ(WaitForMarks(mark, 1), QStringList{QStringLiteral("1 [%1]").arg(link)});
}

TEST_F(LauncherTest, NativeHostTellsTheExtensionWhatTheUserChose) {
    // Read from the application folder at each question: a change shows at the next one.
    const QString folder = box.file(QStringLiteral("app"));
    QProcessEnvironment env = LauncherEnvironment({}, brenloft);
    env.insert(QStringLiteral("BRENLOFT_HOME"), folder);
    const QByteArray ask = Framed(R"({"ask": "mode"})");
    const auto choices = [](bool menu, int mode) {
        return QJsonObject{{QStringLiteral("BrowserIngeration"), menu},
                           {QStringLiteral("mode"), mode}};
    };

    LauncherRun run = RunLauncher({Chromium}, env, ask);
    ExpectQuietEnd(run, 0);
    EXPECT_EQ(Answers(run.out), std::vector<QJsonObject>{choices(false, 0)}) << "nothing chosen";

    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteIeModeFile(folder, 2));
    ASSERT_TRUE(WriteContextMenuFile(folder, true));
    run = RunLauncher(Firefox, env, ask + UrlMessage(QStringLiteral("http://example.com/a")) + ask);
    ExpectQuietEnd(run, 0);
    EXPECT_EQ(Answers(run.out),
              (std::vector<QJsonObject>{
                  choices(true, 2), {{QStringLiteral("started"), true}}, choices(true, 2)}));
    EXPECT_EQ(WaitForMarks(mark, 1), QStringList{QStringLiteral("1 [http://example.com/a]")});
}
