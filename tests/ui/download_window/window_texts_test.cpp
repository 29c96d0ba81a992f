// The texts the download window builds: its own duration format, the caption and the segment
// state words, in English and with units a language file replaced.
#include <gtest/gtest.h>

#include <ostream>

#include "core/download_list/records.h"
#include "core/text/text_table.h"
#include "tests/support/sandbox.h"
#include "tests/support/text_printer.h"
#include "ui/download_window/window_texts.h"

namespace {

TextTable English() {
    TextTable texts;
    EXPECT_TRUE(
        LoadLanguage(texts, QStringLiteral("english"), {SourcePath(QStringLiteral("data/lang"))}));
    return texts;
}

TEST(DownloadWindowTexts, DurationsLeaveOutEmptyHoursAndMinutes) {
    const TextTable texts = English();
    EXPECT_EQ(DurationText(3725.9f, texts), QStringLiteral("1 h 2 min 5 s")) << "rounded down";
    EXPECT_EQ(DurationText(59, texts), QStringLiteral("59 s"));
    EXPECT_EQ(DurationText(59.99f, texts), QStringLiteral("59 s"));
    EXPECT_EQ(DurationText(0, texts), QStringLiteral("0 s"));
    EXPECT_EQ(DurationText(60, texts), QStringLiteral("1 min 0 s"));
    EXPECT_EQ(DurationText(3600, texts), QStringLiteral("1 h 0 min 0 s"));
    EXPECT_EQ(DurationText(90061, texts), QStringLiteral("25 h 1 min 1 s")) << "hours do not wrap";
    EXPECT_EQ(DurationText(-0.5f, texts), QString());
    EXPECT_EQ(DurationText(-1, texts), QString());
}

TEST(DownloadWindowTexts, DurationUnitsComeFromTheTable) {
    TextTable texts;
    texts.loadText(QStringLiteral("4=Std.\n5=Min.\n6=Sek.\n"));
    EXPECT_EQ(DurationText(3725, texts), QStringLiteral("1 Std. 2 Min. 5 Sek."));
    EXPECT_EQ(DurationText(61, texts), QStringLiteral("1 Min. 1 Sek."));
}

TEST(DownloadWindowTexts, CaptionShowsOneDecimalAndTheDecodedName) {
    const TextTable texts = English();
    EXPECT_EQ(CaptionText(0, QStringLiteral("a.bin"), texts),
              QStringLiteral("0.0% of a.bin downloaded"));
    EXPECT_EQ(CaptionText(42.25f, QStringLiteral("a.bin"), texts),
              QStringLiteral("42.3% of a.bin downloaded"));
    EXPECT_EQ(CaptionText(99.96f, QStringLiteral("a.bin"), texts),
              QStringLiteral("100.0% of a.bin downloaded"))
        << "rounds up in the caption while the download is not complete";
    EXPECT_EQ(CaptionText(100, QStringLiteral("my%20file%5B1%5D.zip"), texts),
              QStringLiteral("100.0% of my file[1].zip downloaded"));
}

TEST(DownloadWindowTexts, EveryShownSegmentStateHasItsWord) {
    const TextTable texts = English();
    const std::pair<std::int16_t, int> words[] = {{SegmentState::Idle, 525},
                                                  {SegmentState::Connecting, 524},
                                                  {SegmentState::Receiving, 526},
                                                  {SegmentState::Complete, 527},
                                                  {SegmentState::Paused, 528},
                                                  {SegmentState::FtpLoggedIn, 672},
                                                  {SegmentState::FtpTransferRequested, 673},
                                                  {SegmentState::FtpWaiting, 674}};
    for (const auto& [state, number] : words) {
        EXPECT_EQ(SegmentStateText(state, texts), texts.text(number)) << "state " << state;
        EXPECT_FALSE(texts.text(number).isEmpty()) << number;
    }
    EXPECT_EQ(SegmentStateText(5, texts), QString());
    EXPECT_EQ(SegmentStateText(-1, texts), QString());
}

}  // namespace
