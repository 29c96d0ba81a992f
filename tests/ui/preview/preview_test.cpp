#include <gtest/gtest.h>

#include <QAudioOutput>
#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabBar>

#include "core/text/text_table.h"
#include "tests/support/sandbox.h"
#include "ui/preview/media_backend.h"
#include "ui/preview/media_preview.h"
#include "ui/preview/picture_reading.h"
#include "ui/preview/picture_view.h"
#include "ui/preview/preview_panel.h"

namespace {

// Media made here, each a fraction of a second long.
bool Gst(const QString& pipeline) {
    QProcess gst;
    gst.start(QStringLiteral("gst-launch-1.0"),
              QStringList{QStringLiteral("-q")} + pipeline.split(QLatin1Char(' ')));
    return gst.waitForFinished(60000) && gst.exitStatus() == QProcess::NormalExit &&
           gst.exitCode() == 0;
}

// A mono 8 kHz 16-bit WAV of a tenth of a second of silence, written byte by byte.
void WriteWav(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 data = 1600;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + data);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << data;
    out.writeRawData(QByteArray(data, '\0').constData(), data);
}

// An uncompressed 24-bit TGA, 4 by 2, in the format's second version or the first (whose
// files end without a footer). Qt only reads the format.
void WriteTga(const QString& path, bool footer) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray header(18, '\0');
    header[2] = 2;  // true colour
    header[12] = 4;
    header[14] = 2;
    header[16] = 24;
    file.write(header);
    file.write(QByteArray(4 * 2 * 3, '\x7f'));
    if (footer) {
        file.write(QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18));
    }
}

QStringList LanguageFiles() {
    return {SourcePath(QStringLiteral("data/lang"))};
}

class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0")).isEmpty()) {
            GTEST_SKIP() << "gst-launch-1.0 is not installed";
        }
        ASSERT_TRUE(LoadLanguage(texts_, QStringLiteral("english"), LanguageFiles()));
        panel_ = std::make_unique<PreviewPanel>(texts_);
        panel_->resize(220, 300);
        panel_->show();
    }
    QString file(const char* name) const { return sandbox_.file(QLatin1String(name)); }
    template <typename T>
    T* child(const char* name) const {
        return panel_->findChild<T*>(QLatin1String(name));
    }
    QWidget* shownPage() const { return child<QStackedWidget>("Picture3")->currentWidget(); }

    Sandbox sandbox_;
    TextTable texts_;
    std::unique_ptr<PreviewPanel> panel_;
};

struct Load {
    const char* media;
    const char* realfile;
    PreviewKind kind;   // what is shown afterwards
    const char* shown;  // the file shown afterwards
    const char* page;   // the video area's page afterwards
    bool player;        // a player is ready on its first frame afterwards
    qint64 limit = -1;  // the bytes of `media` that are the file's (-1: all)
};

TEST(PreviewTypes, TheRealNameDecidesByItsLastExtension) {
    const std::pair<const char*, PreviewKind> names[] = {
        {"clip.Avi", PreviewKind::Video},     {"a.b.mp3", PreviewKind::Sound},
        {"x.WMA", PreviewKind::Sound},        {"x.mid", PreviewKind::Sound},
        {"photo.jpeg", PreviewKind::Picture}, {"song.mp3.part", PreviewKind::None},
        {"noextension", PreviewKind::None},   {"ends.", PreviewKind::None},
        {"pic.tga", PreviewKind::Picture},    {"dir.v2/readme", PreviewKind::None},
    };
    for (const auto& [name, kind] : names) {
        EXPECT_EQ(PreviewKindOf(PreviewExtension(QLatin1String(name))), kind) << name;
    }
    EXPECT_EQ(PreviewExtension(QStringLiteral("a.b.mp3")), QLatin1String("MP3"));
}

// A download in progress, written where its bytes belong: half a JPEG, then zeros to twice
// its length. Only the half is the file's, read as a file cut there reads.
TEST(PreviewPicture, ReadsNothingPastTheFirstMissingByte) {
    Sandbox sandbox;
    QImage image(512, 512, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPG"));
    const qint64 half = jpeg.size() / 2;
    const QString held = sandbox.file(QStringLiteral("held")), cut = held + QLatin1String(".cut");
    for (const auto& [path, size] : {std::pair(held, 4 * half), std::pair(cut, half)}) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(jpeg.left(half)) == half);
        ASSERT_TRUE(out.resize(size));
    }
    const QImage read = ReadPreviewPicture(held, QStringLiteral("JPG"), half);
    EXPECT_FALSE(read.isNull());
    EXPECT_EQ(read, ReadPreviewPicture(cut, QStringLiteral("JPG")));
}

TEST(PreviewTypes, GStreamerUnlessTheEnvironmentNamesABackend) {
    const bool wasSet = qEnvironmentVariableIsSet("QT_MEDIA_BACKEND");
    const QByteArray before = qgetenv("QT_MEDIA_BACKEND");
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "gstreamer"}, {"", "gstreamer"}, {"ffmpeg", "ffmpeg"}};
    for (const auto& [set, expected] : cases) {
        if (set == nullptr) {
            qunsetenv("QT_MEDIA_BACKEND");
        } else {
            qputenv("QT_MEDIA_BACKEND", QByteArray(set));
        }
        UseGStreamerMedia();
        EXPECT_EQ(qgetenv("QT_MEDIA_BACKEND"), QByteArray(expected)) << (set ? set : "unset");
    }
    if (wasSet) {
        qputenv("QT_MEDIA_BACKEND", before);
    } else {
        qunsetenv("QT_MEDIA_BACKEND");
    }
}

TEST_F(PreviewTest, EachTypeShowsOnItsPageAndWhatCannotShowSaysSo) {
    const QString video = QStringLiteral(
        "videotestsrc num-buffers=10 ! video/x-raw,width=64,height=48,framerate=10/1 ! ");
    const QString sound = QStringLiteral("audiotestsrc num-buffers=10 ! audioconvert ! ");
    const std::pair<const char*, QString> made[] = {
        {"clip.avi", video + "jpegenc ! avimux"},
        {"clip.mp4", video + "x264enc ! mp4mux"},
        {"clip.mkv", video + "x264enc ! matroskamux"},
        {"clip.webm", video + "vp8enc ! webmmux"},
        {"tone.ogg", sound + "vorbisenc ! oggmux"},
        {"tone.flac", sound + "flacenc"},
        {"tone.opus", sound + "audioresample ! opusenc ! oggmux"}};
    for (const auto& [name, pipeline] : made) {
        ASSERT_TRUE(Gst(pipeline + " ! filesink location=" + file(name))) << name;
    }
    QFile gif(file("still.gif"));  // Qt reads GIF but does not write it: one pixel, by hand
    ASSERT_TRUE(gif.open(QIODevice::WriteOnly));
    gif.write(
        QByteArray::fromHex("47494638396101000100800000000000ffffff2c00000000010001000002"
                            "024401003b"));
    gif.close();
    ASSERT_TRUE(QFile::copy(file("clip.avi"), file("movie.avi.part0")));
    const qint64 clip = QFile(file("clip.avi")).size();  // then zeros, as where bytes are due
    ASSERT_TRUE(QFile::copy(file("clip.avi"), file("held.part")));
    ASSERT_TRUE(QFile::resize(file("held.part"), 3 * clip));
    WriteWav(file("tone.wav"));
    WriteTga(file("still.tga"), true);
    WriteTga(file("old.tga"), false);
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (const char* name : {"still.png", "still.jpg", "still.bmp", "still.webp"}) {
        ASSERT_TRUE(image.save(file(name)));
    }
    for (const char* name : {"notes.txt", "noextension", "fake.avi"}) {
        QFile odd(file(name));
        ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
        odd.write("not a film\n");
    }

    const Load loads[] = {
        {"clip.avi", "", PreviewKind::Video, "clip.avi", "video", true},
        {"still.gif", "", PreviewKind::Picture, "still.gif", "picture", false},
        {"clip.mp4", "", PreviewKind::Video, "clip.mp4", "video", true},
        {"still.webp", "", PreviewKind::Picture, "still.webp", "picture", false},
        {"notes.txt", "", PreviewKind::None, "notes.txt", "Label5", false},
        {"clip.mkv", "", PreviewKind::Video, "clip.mkv", "video", true},
        {"noextension", "", PreviewKind::None, "noextension", "Label5", false},
        {"still.png", "", PreviewKind::Picture, "still.png", "picture", false},
        {"tone.wav", "", PreviewKind::Sound, "tone.wav", "Image2", true},
        {"clip.webm", "", PreviewKind::Video, "clip.webm", "video", true},
        {"still.jpg", "", PreviewKind::Picture, "still.jpg", "picture", false},
        {"tone.ogg", "", PreviewKind::Sound, "tone.ogg", "Image2", true},
        {"tone.flac", "", PreviewKind::Sound, "tone.flac", "Image2", true},
        {"still.bmp", "", PreviewKind::Picture, "still.bmp", "picture", false},
        {"gone.avi", "", PreviewKind::None, "gone.avi", "Label5", false},
        {"tone.opus", "", PreviewKind::Sound, "tone.opus", "Image2", true},
        {"still.tga", "", PreviewKind::Picture, "still.tga", "picture", false},
        {"gone.avi.part0", "gone.avi", PreviewKind::None, "gone.avi.part0", "Label5", false},
        {"old.tga", "", PreviewKind::Picture, "old.tga", "picture", false},
        {"movie.avi.part0", "movie.avi", PreviewKind::Video, "movie.avi.part0", "video", true},
        {"held.part", "movie.avi", PreviewKind::Video, "held.part", "video", true, clip},
        {"still.png", "", PreviewKind::None, "still.png", "Label5", false, 0},
        // Names that promise what the file does not hold: the panel says it cannot show them.
        {"tone.wav", "tone.png", PreviewKind::None, "tone.wav", "Label5", false},
        {"still.png", "", PreviewKind::Picture, "still.png", "picture", false},
        {"fake.avi", "", PreviewKind::None, "fake.avi", "Label5", false},
    };
    MediaPreview& media = panel_->media();
    for (const Load& load : loads) {
        SCOPED_TRACE(std::string(load.media) + " as " + load.realfile);
        const QString expected = file(load.shown);
        panel_->LoadMedia(file(load.media), QLatin1String(load.realfile), load.limit);
        EXPECT_TRUE(WaitFor([&] {
            return media.currentFile() == expected && media.kind() == load.kind &&
                   (media.player() != nullptr) == load.player &&
                   (!load.player || media.playbackState() == QMediaPlayer::PausedState);
        })) << media.currentFile().toStdString()
            << " " << static_cast<int>(media.kind());
        EXPECT_EQ(shownPage()->objectName(), QLatin1String(load.page));
        EXPECT_EQ(child<QLabel>("Image2")->isVisible(), load.kind == PreviewKind::Sound);
        EXPECT_EQ(child<QLabel>("Label5")->isVisible(), load.kind == PreviewKind::None);
        EXPECT_LE(media.findChildren<QMediaPlayer*>().size(), 1);
        // No picture of another file stays behind; play and stop work only with a player.
        EXPECT_EQ(child<PictureView>("picture")->image().isNull(),
                  load.kind != PreviewKind::Picture);
        EXPECT_EQ(child<QPushButton>("Command2")->isEnabled(), load.player);
        EXPECT_EQ(child<QPushButton>("Command3")->isEnabled(), load.player);
        if (load.player && load.limit > 0) {  // the player reads only the bytes in order
            const QIODevice* device = media.player() ? media.player()->sourceDevice() : nullptr;
            EXPECT_EQ(device != nullptr ? device->size() : -1, load.limit);
        }
        if (load.player && load.kind == PreviewKind::Video) {
            // The first frame is drawn, not only decoded.
            EXPECT_TRUE(WaitFor([&] { return !child<PictureView>("video")->image().isNull(); }));
        }
    }
    // The picture is drawn whole inside the area, proportions kept.
    panel_->LoadMedia(file("still.png"), QString());
    const QRect drawn = child<PictureView>("picture")->pictureRect();
    EXPECT_EQ(drawn.width(), 2 * drawn.height());
}

TEST_F(PreviewTest, ButtonsSliderAndTabsReachTheOnePlayer) {
    WriteWav(file("first.wav"));
    WriteWav(file("second.wav"));
    MediaPreview& media = panel_->media();
    // Without a player the controls do nothing, and say nothing.
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(media.playbackState(), QMediaPlayer::StoppedState);

    panel_->LoadMedia(file("first.wav"));
    ASSERT_TRUE(WaitFor([&] { return media.playbackState() == QMediaPlayer::PausedState; }));
    const QPointer<QMediaPlayer> first = media.player();
    panel_->LoadMedia(file("second.wav"));
    EXPECT_TRUE(first.isNull());
    ASSERT_TRUE(WaitFor([&] { return media.playbackState() == QMediaPlayer::PausedState; }));

    struct Step {
        const char* control;
        int slider;  // for Slider1
        QMediaPlayer::PlaybackState state;
        float volume;
    };
    const Step steps[] = {
        {"Command2", 0, QMediaPlayer::PlayingState, 1.0F},
        {"Command3", 0, QMediaPlayer::StoppedState, 1.0F},
        {"Slider1", 0, QMediaPlayer::PlayingState, 0.1F},
        {"Command3", 0, QMediaPlayer::StoppedState, 0.1F},
        {"Slider1", 50, QMediaPlayer::PlayingState, 0.316228F},
        {"Info", 0, QMediaPlayer::StoppedState, 0.316228F},
        {"Slider1", 100, QMediaPlayer::PlayingState, 1.0F},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.control);
        const QString control = QLatin1String(step.control);
        if (control == QLatin1String("Slider1")) {
            child<QSlider>("Slider1")->setValue(step.slider);
        } else if (control == QLatin1String("Info")) {
            panel_->selectTab(control);
            EXPECT_TRUE(child<QWidget>("Details")->isVisible());
            EXPECT_FALSE(child<QWidget>("Picture3")->isVisible());
            panel_->selectTab(QStringLiteral("Prev"));
            EXPECT_TRUE(child<QWidget>("Picture3")->isVisible());
        } else {
            child<QPushButton>(step.control)->click();
        }
        EXPECT_TRUE(WaitFor([&] { return media.playbackState() == step.state; }));
        ASSERT_NE(media.player(), nullptr);
        EXPECT_NEAR(media.player()->audioOutput()->volume(), step.volume, 1e-4);
    }
    media.stop();
}

TEST_F(PreviewTest, CaptionsHintsAndDetailsComeFromTheTexts) {
    for (const char* language : {"english", "francais"}) {
        SCOPED_TRACE(language);
        TextTable texts = texts_;
        ASSERT_TRUE(LoadLanguage(texts, QLatin1String(language), LanguageFiles()));
        PreviewPanel panel(texts);
        auto* tabs = panel.findChild<QTabBar*>(QStringLiteral("TabStrip1"));
        ASSERT_EQ(tabs->count(), 2);
        const std::pair<QString, int> captions[] = {
            {tabs->tabText(0), 250},
            {tabs->tabText(1), 251},
            {panel.findChild<QLabel*>(QStringLiteral("Label5"))->text(), 277},
            {panel.findChild<QLabel*>(QStringLiteral("Text1Caption"))->text(), 660},
            {panel.findChild<QLabel*>(QStringLiteral("Text2Caption"))->text(), 661},
            {panel.findChild<QLabel*>(QStringLiteral("Text3Caption"))->text(), 662}};
        for (const auto& [caption, number] : captions) {
            EXPECT_FALSE(caption.isEmpty()) << number;
            EXPECT_EQ(caption, texts.text(number));
        }
    }
    EXPECT_EQ(child<QTabBar>("TabStrip1")->tabData(1).toString(), QLatin1String("Info"));
    EXPECT_FALSE(child<QLabel>("Label5")->isVisible());
    EXPECT_EQ(child<QPushButton>("Command2")->accessibleName(), QLatin1String(">"));
    EXPECT_EQ(child<QSlider>("Slider1")->value(), 100);
    EXPECT_GE(panel_->sizeHint().width(), 220);

    QSignalSpy hints(panel_.get(), &PreviewPanel::hint);
    const std::pair<const char*, int> hinted[] = {{"Picture3", 677},
                                                  {"picture", 677},
                                                  {"Command2", 681},
                                                  {"Command3", 680},
                                                  {"Slider1", 688}};
    for (const auto& [name, number] : hinted) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(child<QWidget>(name), &enter);
        ASSERT_FALSE(hints.isEmpty()) << name;
        EXPECT_EQ(hints.takeLast().at(0).toString(), texts_.text(number)) << name;
    }

    panel_->showDetails(QStringLiteral("http://example.test/a.zip"), QStringLiteral("12 bytes"),
                        QStringLiteral("/tmp/a.zip"));
    const std::pair<const char*, const char*> fields[] = {
        {"Text1", "http://example.test/a.zip"}, {"Text2", "12 bytes"}, {"Text3", "/tmp/a.zip"}};
    for (const auto& [name, text] : fields) {
        EXPECT_EQ(child<QLineEdit>(name)->text(), QLatin1String(text));
        EXPECT_TRUE(child<QLineEdit>(name)->isReadOnly());
    }
}

}  // namespace
