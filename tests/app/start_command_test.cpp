// The desktop program's command line read as one text: the switches come out of it, the
// address stays whole.
#include <gtest/gtest.h>

#include "app/desktop/command_line.h"

TEST(StartCommand, SwitchesComeOutAndTheAddressStaysWhole) {
    const struct {
        const char* line;
        bool silent, add;
        const char* url;
    } rows[] = {
        {"--add", false, true, ""},
        {"--add http://h/a.bin", false, true, "http://h/a.bin"},
        {"/silent --add", true, true, ""},
        {"http://h/--add/a.bin", false, false, "http://h/--add/a.bin"},
        {"http://h/a --addon.bin", false, false, "http://h/a --addon.bin"},
        {"http://h/My  File.zip", false, false, "http://h/My  File.zip"},
        {"-silent \"ftp://h/a\"", true, false, "ftp://h/a"},
        {"-silent magnet:?xt=urn:btih:ab", true, false, "magnet:?xt=urn:btih:ab"},
        {"/tmp/a b.torrent", false, false, "/tmp/a b.torrent"},
    };
    for (const auto& row : rows) {
        const StartCommand command = ReadStartCommand(QString::fromUtf8(row.line));
        EXPECT_EQ(command.silent, row.silent) << row.line;
        EXPECT_EQ(command.addAddress, row.add) << row.line;
        EXPECT_EQ(command.url, QString::fromUtf8(row.url)) << row.line;
    }
    EXPECT_EQ(UnknownStartOption({QStringLiteral("--add"), QStringLiteral("--silent")}), QString());
    EXPECT_EQ(UnknownStartOption({QStringLiteral("--added")}), QStringLiteral("--added"));
    // The flag travels with each address to the running program, and comes out of it there.
    const QStringList handed =
        ReadStartArguments({QStringLiteral("--no-restart"), QStringLiteral("http://h/a.bin")})
            .handOffLines();
    ASSERT_EQ(handed, QStringList{QStringLiteral("--no-restart http://h/a.bin")});
    const StartCommand taken = ReadStartCommand(handed.front());
    EXPECT_TRUE(taken.noRestart && taken.url == u"http://h/a.bin") << handed.front().toStdString();
}
