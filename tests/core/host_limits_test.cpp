#include "core/settings/host_limits.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

constexpr std::int64_t T = 1'700'000'000;
const QString kServer = QStringLiteral("http://h.example:80");

struct Row {
    const char* name;
    QByteArray file;  // before; empty: none
    std::int64_t now;
    int refusedWith;  // a refusal while this many worked; 0: none
    int wanted;
    int limit;         // limitFor(kServer, wanted) after it
    QByteArray after;  // the file then, when not empty
};

}  // namespace

TEST(HostLimits, StepDownRiseAndDamagedFiles) {
    const QByteArray two = "http://h.example:80 2 1700000000\n";  // refused at T, two worked
    const std::vector<Row> rows = {
        {"nothing known", {}, T, 0, 8, 8, {}},
        {"a refusal is remembered", {}, T, 2, 8, 2, two},
        {"only the lower is kept, its time renewed", two, T + 60, 4, 8, 2,
         "http://h.example:80 2 1700000060\n"},
        {"fewer wanted than remembered", two, T, 0, 1, 1, {}},
        {"half an hour less a second", two, T + 1799, 0, 8, 2, {}},
        {"rises by one after half an hour", two, T + 1800, 0, 8, 3, {}},
        {"rises once per half hour", two, T + 3 * 1800, 0, 8, 5, {}},
        {"risen back to eight: dropped as the file is written",
         "http://o.example:8080 2 1700000000\nhttp://h.example:80 4 1700009000\n", T + 6 * 1800, 2,
         8, 2, "http://h.example:80 2 1700010800\n"},
        {"damaged lines skipped",
         "junk\nhttp://h.example:80 x 5\nhttp://h.example:80 0 5\nftp://h.example:80 1\n"
         "\xff\xfe 1 2\nhttp://h.example:80 4 1700000000\n",
         T, 4, 8, 4, "http://h.example:80 4 1700000000\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Sandbox box;
        const QString path = box.file(QLatin1String(HostLimitsFileName));
        if (!row.file.isEmpty()) {
            ASSERT_TRUE(WriteFile(path, row.file));
        }
        std::int64_t now = row.now;
        HostLimits limits(path, [&now] { return now; });
        if (row.refusedWith > 0) {
            EXPECT_EQ(limits.stepDown(kServer, row.refusedWith), QString());
        }
        EXPECT_EQ(limits.limitFor(kServer, row.wanted), row.limit);
        if (!row.after.isEmpty()) {
            EXPECT_EQ(ReadFile(path), row.after);
            EXPECT_EQ(HostLimits(path, [&now] { return now; }).limitFor(kServer, 8), row.limit);
        }
    }
}

TEST(HostLimits, HalvingStepsDownToWhatWorked) {
    const std::vector<std::array<int, 3>> rows = {{8, 1, 1}, {8, 3, 2}, {8, 5, 4},
                                                  {4, 7, 4}, {6, 6, 4}, {1, 0, 1}};
    for (const auto& [current, working, after] : rows) {
        EXPECT_EQ(ConnectionsAfterRefusal(current, working), after) << current << " " << working;
    }
    EXPECT_EQ(HostLimits::ServerOf(QStringLiteral("HTTPS://Files.Example/a/b?c")),
              QStringLiteral("https://files.example:443"));
}
