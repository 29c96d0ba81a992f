#include <gtest/gtest.h>

#include <QRegularExpression>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "rpc/gid_table.h"
#include "rpc/rpc_params.h"
#include "tests/support/sandbox.h"

namespace {

// Forty entries, two of them the same address added the same day: more GIDs than hexadecimal
// digits, so some share a first digit.
DownloadListState FortyEntries() {
    DownloadListState list;
    for (int slot = 1; slot <= 40; ++slot) {
        DownloadRecord r;
        EnterList(r);
        r.Url = QStringLiteral("http://127.0.0.1/f%1.bin").arg(slot == 40 ? 1 : slot);
        r.DateAdded = OleDate(46000.0);
        list.DownloadList.append(r);
    }
    list.DownloadCount = 40;
    return list;
}

QString Lookup(const GidTable& table, const QString& gid) {
    try {
        return QString::number(table.find(gid));
    } catch (const RpcFailure& failure) {
        return failure.message;
    }
}

}  // namespace

TEST(GidTable, NamesEachEntryOnceAndFindsItByAnyUniquePrefix) {
    const DownloadListState list = FortyEntries();
    const GidTable table(list);
    QString shared;  // a first digit two GIDs begin with
    for (int slot = 1; slot <= 40; ++slot) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{16}$"))
                        .match(table.gidOf(slot))
                        .hasMatch());
        for (int other = 1; other < slot; ++other) {
            ASSERT_NE(table.gidOf(slot), table.gidOf(other)) << slot << " " << other;
            if (table.gidOf(slot).at(0) == table.gidOf(other).at(0)) {
                shared = table.gidOf(slot).left(1);
            }
        }
    }
    const QString gid = table.gidOf(7);
    QString unique = gid.left(1);
    while (Lookup(table, unique) != QLatin1String("7")) {
        unique = gid.left(unique.size() + 1);
    }
    const struct {
        QString asked;
        QString answer;
    } rows[] = {
        {gid, QStringLiteral("7")},
        {gid.toUpper(), QStringLiteral("7")},
        {unique, QStringLiteral("7")},
        {shared, QStringLiteral("GID %1 is not unique").arg(shared)},
        {gid + u'0', QStringLiteral("Invalid GID ") + gid + u'0'},
        {QStringLiteral("12x4"), QStringLiteral("Invalid GID 12x4")},
        {QString(), QStringLiteral("Invalid GID ")},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Lookup(table, row.asked), row.answer) << row.asked.toStdString();
    }
    // Hidden entries are not found, and hiding them changes no other GID.
    const GidTable hiding(list, [](int slot) { return slot != 7; });
    EXPECT_EQ(Lookup(hiding, gid), QStringLiteral("GID %1 is not found").arg(gid));
    EXPECT_EQ(hiding.gidOf(8), table.gidOf(8));
}

TEST(GidTable, KeepsTheGidsOfAListSavedAndLoadedAgain) {
    Sandbox box;
    const QString path = box.file(QStringLiteral("list.dat"));
    DownloadListState list = FortyEntries();
    list.DownloadList[3].DateAdded = OleDate::now();
    ASSERT_EQ(SaveList(list, path), QString());
    DownloadListState loaded;
    ASSERT_TRUE(LoadList(loaded, path).error.isEmpty());
    const GidTable before(list);
    const GidTable after(loaded);
    for (int slot = 1; slot <= 40; ++slot) {
        EXPECT_EQ(after.gidOf(slot), before.gidOf(slot)) << slot;
    }
}
