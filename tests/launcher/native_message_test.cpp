#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <utility>

#include "launcher/brenloft_start.h"
#include "launcher/launch_mode.h"
#include "launcher/native_host.h"
#include "launcher/native_message.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/sandbox.h"

namespace {

using NativeMessage::Frame;

// A pipe hands over what has arrived so far: here one byte per read.
class TrickleDevice : public QIODevice {
public:
    explicit TrickleDevice(QByteArray bytes) : bytes_(std::move(bytes)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (at_ >= bytes_.size() || maxSize <= 0) {
            return 0;
        }
        *data = bytes_[at_++];
        return 1;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qsizetype at_ = 0;
};

std::vector<Frame> ReadAll(QIODevice& in) {
    NativeMessage::Reader reader(in);
    std::vector<Frame> frames;
    do {
        frames.push_back(reader.next());
    } while (frames.back().kind == Frame::Kind::Message);
    return frames;
}

}  // namespace

TEST(LaunchMode, TellsABrowsersHostStartFromAnAddress) {
    const auto mode = [](const QStringList& arguments) {
        return DetectLaunchMode(arguments) == LaunchMode::NativeMessaging;
    };
    EXPECT_TRUE(mode({QStringLiteral("chrome-extension://knldjmfmopnpolahpmmgbagdohdnhkik/")}));
    EXPECT_TRUE(
        mode({QStringLiteral("chrome-extension://abc/"), QStringLiteral("--parent-window=6")}));
    EXPECT_TRUE(mode({QStringLiteral("/home/u/.mozilla/native-messaging-hosts/velmora.json"),
                      QStringLiteral("brenloft@example.org")}));

    EXPECT_FALSE(mode({}));
    EXPECT_FALSE(mode({QStringLiteral("http://example.com/a.json"), QStringLiteral("x")}));
    EXPECT_FALSE(mode({QStringLiteral("http://example.com/chrome-extension://abc/")}));
    EXPECT_FALSE(mode({QStringLiteral("\"chrome-extension://abc/\"")}));
    EXPECT_FALSE(mode({QStringLiteral("/tmp/a.json")}));
    EXPECT_FALSE(mode({QStringLiteral("relative/a.json"), QStringLiteral("id")}));
    EXPECT_FALSE(mode({QStringLiteral("/tmp/a.json"), QStringLiteral("id"), QStringLiteral("x")}));
    EXPECT_FALSE(mode({QStringLiteral("/tmp/a.json.txt"), QStringLiteral("id")}));
}

TEST(LaunchMode, OptionsOnlyWhereNoBrowserStartedTheHost) {
    const std::vector<std::pair<QStringList, LaunchMode>> cases = {
        {{QStringLiteral("--help")}, LaunchMode::Help},
        {{QStringLiteral("--version")}, LaunchMode::Version},
        {{QStringLiteral("--helps")}, LaunchMode::BadOption},
        {{QStringLiteral("--help"), QStringLiteral("http://example.com/")}, LaunchMode::Help},
        // A browser's start is never taken for an option, whatever follows.
        {{QStringLiteral("chrome-extension://abc/"), QStringLiteral("--help")},
         LaunchMode::NativeMessaging},
        {{QStringLiteral("/home/u/--help.json"), QStringLiteral("--version")},
         LaunchMode::NativeMessaging},
        // Nor is an address that only holds the words.
        {{QStringLiteral("http://example.com/--help")}, LaunchMode::Url},
        {{QStringLiteral("\"--help\"")}, LaunchMode::Url},
        {{QStringLiteral("-h")}, LaunchMode::Url},
    };
    for (const auto& [arguments, mode] : cases) {
        EXPECT_EQ(DetectLaunchMode(arguments), mode) << arguments.join(u' ').toStdString();
    }
}

TEST(NativeMessageReader, SplitsTheStreamIntoFramesHoweverItArrives) {
    const QByteArray longest(NativeMessage::MaxLength, 'x');
    const QByteArray stream = Framed("{\"url\":\"a\"}") + Framed({}) + Framed(longest);
    QBuffer whole;
    whole.setData(stream);
    whole.open(QIODevice::ReadOnly);
    TrickleDevice trickle(stream);
    for (QIODevice* in : {static_cast<QIODevice*>(&whole), static_cast<QIODevice*>(&trickle)}) {
        const std::vector<Frame> frames = ReadAll(*in);
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_EQ(frames[0].body, "{\"url\":\"a\"}");
        EXPECT_EQ(frames[1].kind, Frame::Kind::Message);
        EXPECT_TRUE(frames[1].body.isEmpty());
        EXPECT_EQ(frames[2].body, longest);
        EXPECT_EQ(frames[3].kind, Frame::Kind::End);
    }
}

TEST(NativeMessageReader, ReportsWhereTheStreamBreaks) {
    const auto last = [](const QByteArray& stream) {
        TrickleDevice in(stream);
        return ReadAll(in).back();
    };
    const Frame tooLong = last(Framed("{}") + Header(NativeMessage::MaxLength + 1) + "{}");
    EXPECT_EQ(tooLong.kind, Frame::Kind::TooLong);
    EXPECT_EQ(tooLong.length, NativeMessage::MaxLength + 1);
    EXPECT_EQ(last(Header(0xFFFFFFFFu)).kind, Frame::Kind::TooLong);
    for (int kept = 1; kept < 4; ++kept) {
        EXPECT_EQ(last(Framed("{}") + Header(2).left(kept)).kind, Frame::Kind::Truncated) << kept;
    }
    EXPECT_EQ(last(Header(10) + "{\"url\":").kind, Frame::Kind::Truncated);
}

TEST(NativeMessageWriter, FramesAnswersInNativeByteOrder) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(NativeMessage::Write(out, NativeMessage::ResultAnswer(1)));
    EXPECT_EQ(out.data(), QByteArray("\x0c\0\0\0{\"result\":1}", 16));

    const QJsonObject error = NativeMessage::ErrorAnswer(QStringLiteral("no way in: \"é\""));
    const std::vector<QJsonObject> answers = Answers(NativeMessage::Encode(error));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], error);
}

TEST(NativeMessageDecode, TakesOnlyAnObjectWithANonEmptyStringUrl) {
    EXPECT_EQ(NativeMessage::Decode(R"({"url": "http://example.com/ä b"})").url,
              QStringLiteral("http://example.com/ä b"));
    const NativeMessage::Request extra =
        NativeMessage::Decode(R"({"referrer": "x", "url": "\"ftp://h/f\""})");
    EXPECT_TRUE(extra.error.isEmpty());
    EXPECT_EQ(extra.url, QStringLiteral("\"ftp://h/f\""));

    for (const char* bad : {"", "url", "{\"url\": \"http://x\"", "[\"http://x\"]", "\"http://x\"",
                            "{}", "{\"URL\": \"http://x\"}", "{\"url\": 1}", "{\"url\": null}",
                            "{\"url\": [\"http://x\"]}", "{\"url\": \"\"}", "\xff\xfe{}"}) {
        const NativeMessage::Request request = NativeMessage::Decode(bad);
        EXPECT_FALSE(request.error.isEmpty()) << bad;
        EXPECT_TRUE(request.url.isEmpty()) << bad;
    }
}

// The extension says how an address came and what came with it; anything else is refused
// whole rather than half used.
TEST(NativeMessageDecode, TakesTheWayAnAddressCameAndWhatCameWithIt) {
    using NativeMessage::Via;
    struct Case {
        const char* body;
        Via via;
        const char* referrer;
        const char* cookie;
    };
    const Case cases[] = {
        {R"({"url": "http://h/f"})", Via::Address, "", ""},
        {R"({"url": "http://h/f", "via": "menu", "referrer": "http://p/", "cookie": "a=1; b=2"})",
         Via::Menu, "http://p/", "a=1; b=2"},
        {R"({"url": "http://h/f", "via": "download", "cookie": "a=\u00e9"})", Via::Download, "",
         "a=\xc3\xa9"},
        {R"({"url": "http://h/f", "via": "download", "referrer": "", "cookie": ""})", Via::Download,
         "", ""},
    };
    for (const Case& c : cases) {
        const NativeMessage::Request request = NativeMessage::Decode(c.body);
        EXPECT_TRUE(request.error.isEmpty()) << c.body;
        EXPECT_EQ(request.url, QStringLiteral("http://h/f")) << c.body;
        EXPECT_EQ(request.via, c.via) << c.body;
        EXPECT_EQ(request.referrer, QString::fromUtf8(c.referrer)) << c.body;
        EXPECT_EQ(request.cookie, QString::fromUtf8(c.cookie)) << c.body;
    }
    for (const char* bad :
         {R"({"url": "http://h/f", "via": "Menu"})", R"({"url": "http://h/f", "via": 1})",
          R"({"url": "http://h/f", "via": null})",
          R"({"url": "http://h/f", "via": "menu", "cookie": 5})",
          R"({"url": "http://h/f", "via": "menu", "referrer": ["http://p/"]})",
          R"({"via": "menu", "cookie": "a=1"})"}) {
        const NativeMessage::Request request = NativeMessage::Decode(bad);
        EXPECT_FALSE(request.error.isEmpty()) << bad;
        EXPECT_TRUE(request.url.isEmpty()) << bad;
    }
}

TEST(NativeMessageDecode, TellsTheQuestionFromAnAddress) {
    const NativeMessage::Request question = NativeMessage::Decode(R"({"ask": "mode"})");
    EXPECT_TRUE(question.asksChoices);
    EXPECT_TRUE(question.url.isEmpty());
    EXPECT_TRUE(question.error.isEmpty());
    // An address wins over a question it does not ask; other questions are not this one.
    EXPECT_FALSE(NativeMessage::Decode(R"({"ask": "Mode", "url": "http://x/"})").asksChoices);
    EXPECT_FALSE(NativeMessage::Decode(R"({"ask": "mode "})").error.isEmpty());
    EXPECT_FALSE(NativeMessage::Decode(R"({"ask": 0})").error.isEmpty());

    QBuffer in;
    in.setData(Framed(R"({"ask":"mode"})") + Framed(R"({"url":"http://x/"})") +
               Framed(R"({"ask":"mode"})"));
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    int asked = 0;
    const auto answer = [](const NativeMessage::Request&) {
        return NativeMessage::ResultAnswer(1);
    };
    ASSERT_EQ(ServeNativeMessages(in, out, answer,
                                  [&asked] { return NativeMessage::ChoicesAnswer(true, ++asked); }),
              0);
    EXPECT_EQ(Answers(out.data()),
              (std::vector<QJsonObject>{NativeMessage::ChoicesAnswer(true, 1),
                                        NativeMessage::ResultAnswer(1),
                                        NativeMessage::ChoicesAnswer(true, 2)}));
    EXPECT_EQ(
        NativeMessage::ChoicesAnswer(false, 3),
        (QJsonObject{{QStringLiteral("BrowserIngeration"), false}, {QStringLiteral("mode"), 3}}));
}

// Streams of frames with random, damaged or valid bodies, and plain noise: every stream is
// answered in whole frames, one answer per message, and the host ends as the stream does.
TEST(NativeHost, AnswersAnyStreamInWholeFrames) {
    QRandomGenerator random(20240611);
    const QByteArray valid = R"({"url":"http://example.com/file.zip"})";
    for (int round = 0; round < 3000; ++round) {
        QByteArray stream;
        int messages = 0;
        const int frames = random.bounded(6);
        for (int i = 0; i < frames; ++i) {
            QByteArray body = valid;
            if (const int damage = random.bounded(3); damage == 0) {
                body = RandomBytes(random, random.bounded(64));
            } else if (damage == 1) {
                body[random.bounded(body.size())] = char(random.bounded(256));
            } else {
                body.truncate(random.bounded(body.size() + 1));
            }
            stream += Framed(body);
            ++messages;
        }
        const bool noise = random.bounded(4) == 0;
        if (noise) {
            stream += RandomBytes(random, random.bounded(1, 16));
        }
        QBuffer in;
        in.setData(stream);
        in.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        int asked = 0;
        const int code = ServeNativeMessages(in, out, [&asked](const NativeMessage::Request& r) {
            ++asked;
            EXPECT_FALSE(r.url.isEmpty());
            return NativeMessage::ResultAnswer(1);
        });
        const std::vector<QJsonObject> answers = Answers(out.data());
        int results = 0;
        for (const QJsonObject& answer : answers) {
            ASSERT_EQ(answer.size(), 1);
            results += answer.contains(QLatin1String("result"));
            ASSERT_TRUE(answer.contains(QLatin1String("result")) ||
                        answer.value(QLatin1String("error")).isString());
        }
        EXPECT_EQ(results, asked);
        if (!noise) {
            EXPECT_EQ(code, 0) << round;
            EXPECT_EQ(int(answers.size()), messages) << round;
        } else {
            // Bytes after the last message are answered, as a message or as the error that
            // ends the host.
            EXPECT_GT(int(answers.size()), messages) << round;
        }
    }
}

TEST(BrenloftProgram, TakesTheOverrideThenTheCopyBesideTheLauncherThenPath) {
    Sandbox box;
    EXPECT_EQ(BrenloftProgram(QStringLiteral("/opt/b/run.sh"), box.path()),
              QStringLiteral("/opt/b/run.sh"));
    EXPECT_EQ(BrenloftProgram({}, box.path()), QStringLiteral("Brenloft"));

    const QString beside = QDir(box.path()).filePath(QStringLiteral("Brenloft"));
    QFile file(beside);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(BrenloftProgram({}, box.path()), QStringLiteral("Brenloft")) << "not executable";
    ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    EXPECT_EQ(BrenloftProgram({}, box.path()), beside);
}
