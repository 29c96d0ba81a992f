// Installing downloaded update packages: nginx serves each package's signature (or none), the
// installer checks it with the test's own key, unpacks and starts a stand-in updater.
#include "update/update_installer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/download_list/entry_state.h"
#include "core/download_list/list_file_format.h"
#include "tests/support/engine_rig.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"
#include "tests/update/update_test_tools.h"

namespace {

class UpdateInstallerTest : public ::testing::Test, protected EngineRig {
protected:
    void SetUp() override {
        maker = MakeSigningKey(root(), QStringLiteral("maker"));
        stranger = MakeSigningKey(root(), QStringLiteral("stranger"));
        ASSERT_FALSE(maker.publicPem.isEmpty());
        ASSERT_FALSE(stranger.publicPem.isEmpty());
        ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("site/velmora"))));
        updater = file(QStringLiteral("program/bin/updater"));
        ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("program/bin"))));
        ASSERT_TRUE(WriteStubProgram(updater, marker()));
        nginx = std::make_unique<NginxPeer>(file(QStringLiteral("site")));
        nginx->logRequests();
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
    }

    QString marker() const { return file(QStringLiteral("updater-ran")); }
    QString unpacked() const { return temp() + QStringLiteral("update"); }

    // Serves a package of `kind` as /velmora/NAME, signed by `signer` (none: no signature),
    // and puts the downloaded copy at `savedAt` as a completed update entry.
    int downloaded(const QString& name, const QString& kind, const SigningKey* signer,
                   const QString& savedAt) {
        const QString served = file(QStringLiteral("site/velmora/") + name);
        EXPECT_TRUE(MakePackage(served, kind));
        if (signer != nullptr) {
            EXPECT_TRUE(SignFile(*signer, served, served + QStringLiteral(".sig")));
        }
        EXPECT_TRUE(QDir().mkpath(QFileInfo(savedAt).absolutePath()));
        EXPECT_TRUE(WriteFile(savedAt, ReadFile(served)));
        DownloadRecord r;
        r.Url = nginx->url(QStringLiteral("/velmora/") + name);
        r.FileName = QFileInfo(savedAt).fileName();
        r.SavePath = savedAt;
        r.Active = FlagTrue;
        r.Completed = FlagTrue;
        r.Percent = 100;
        r.IsUpdate = 1;
        list.DownloadList.append(r);
        list.DownloadCount = static_cast<std::int16_t>(list.DownloadList.size() - 1);
        return list.DownloadCount;
    }

    UpdateInstaller& installer() {
        UpdateInstaller::Parts parts;
        parts.publicKey = maker.publicPem;
        parts.updaterProgram = updater;
        parts.unpackFolder = unpacked();
        parts.program = file(QStringLiteral("program/bin/Brenloft"));
        parts.language = QStringLiteral("francais");
        parts.pid = 4242;
        parts.tell = [this](const QString& text) { told << text; };
        parts.quit = [this] { ++quits; };
        // As the queue does.
        parts.installed = [this](int slot) {
            MarkInstalled(record(slot));
            installed << slot;
        };
        parts.checked = [this] { afterCheck ? afterCheck() : void(); };
        installer_ = std::make_unique<UpdateInstaller>(ctx, std::move(parts));
        return *installer_;
    }

    SigningKey maker;
    SigningKey stranger;
    QString updater;
    std::unique_ptr<NginxPeer> nginx;
    std::unique_ptr<UpdateInstaller> installer_;
    std::function<void()> afterCheck;
    QStringList told;
    int quits = 0;
    QList<int> installed;
};

TEST_F(UpdateInstallerTest, ASignedPackageIsUnpackedAndTheUpdaterStarted) {
    // Saved under a numbered name in another folder: unpacked from where it really is.
    const QString saved = file(QStringLiteral("elsewhere/kestor15[1].zip"));
    const int slot =
        downloaded(QStringLiteral("kestor15.zip"), QStringLiteral("good"), &maker, saved);
    // Left from an earlier install: the folder is cleared first.
    ASSERT_TRUE(QDir().mkpath(unpacked()));
    ASSERT_TRUE(WriteFile(unpacked() + QStringLiteral("/stale"), "old"));

    installer().Install(slot, saved);
    ASSERT_TRUE(WaitFor([&] { return quits > 0 || !told.isEmpty(); }, std::chrono::seconds(30)));
    EXPECT_EQ(told, QStringList());
    EXPECT_EQ(quits, 1);
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(marker()); }));
    EXPECT_EQ(MarkerLines(marker()), (QStringList{"--from", unpacked(), "--program",
                                                  file(QStringLiteral("program/bin/Brenloft")),
                                                  "--wait-pid", "4242", "--language", "francais"}));

    for (const QString& member : PackageFiles()) {
        EXPECT_TRUE(QFileInfo(unpacked() + u'/' + member).isFile()) << member.toStdString();
    }
    EXPECT_TRUE(QFileInfo(unpacked() + QStringLiteral("/bin/Brenloft")).isExecutable());
    EXPECT_FALSE(QFile::exists(unpacked() + QStringLiteral("/stale")));
    EXPECT_TRUE(QFile::exists(saved));

    // Installed: the entry left the list, and the list says so on disk.
    EXPECT_EQ(installed, QList<int>{slot});
    DownloadListState savedList;
    DecodeListFile(ReadFile(listPath()), savedList);
    ASSERT_EQ(savedList.DownloadCount, slot);
    EXPECT_EQ(StateOf(savedList.DownloadList[slot]), ListEntryState::Free);
    EXPECT_TRUE(actions.calls.isEmpty()) << actions.calls.join(u' ').toStdString();

    // The signature came from the package's own server, next to it.
    const QStringList log = nginx->accessLog();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains(u"GET /velmora/kestor15.zip.sig HTTP/1.1")) << log[0].toStdString();
}

struct BadPackage {
    const char* name;
    const char* kind;
    int signer;   // 0 none, 1 the maker, 2 a stranger
    bool damage;  // one byte of the downloaded copy changed after signing
    bool updaterMissing;
    int reason;             // the interface text that names what failed; 0: installed
    bool swap = false;      // the saved file rewritten as an old package once checked
    const char* says = "";  // in the message
};

void PrintTo(const BadPackage& c, std::ostream* out) {
    *out << c.name;
}

class UpdateInstallerRefuses : public UpdateInstallerTest,
                               public ::testing::WithParamInterface<BadPackage> {};

TEST_P(UpdateInstallerRefuses, NothingStartedNothingOutsideAMessage) {
    const BadPackage& c = GetParam();
    const SigningKey* signer = c.signer == 1 ? &maker : c.signer == 2 ? &stranger : nullptr;
    const QString saved = downloads() + QStringLiteral("kestor16.zip");
    const int slot =
        downloaded(QStringLiteral("kestor16.zip"), QLatin1String(c.kind), signer, saved);
    if (c.damage) {
        QByteArray bytes = ReadFile(saved);
        bytes[bytes.size() / 3] = char(bytes[bytes.size() / 3] ^ 0x01);
        ASSERT_TRUE(WriteFile(saved, bytes));
    }
    if (c.updaterMissing) {
        ASSERT_TRUE(QFile::remove(updater));
    }
    // A failed install still ends the list as the options ask.
    settings.AutoShutDownComputer = FlagTrue;

    if (c.swap) {
        afterCheck = [&] { EXPECT_TRUE(MakePackage(saved, QStringLiteral("old"))); };
    }

    installer().Install(slot, saved);
    if (c.reason == 0) {
        ASSERT_TRUE(
            WaitFor([&] { return quits > 0 || !told.isEmpty(); }, std::chrono::seconds(30)));
        EXPECT_EQ(told, QStringList());
        // The checked bytes, never those that took their place.
        EXPECT_TRUE(ReadFile(unpacked() + QStringLiteral("/bin/Brenloft")).contains("the new one"));
        return;
    }
    ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }, std::chrono::seconds(30)));
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains(QLatin1String(c.says))) << told[0].toStdString();
    EXPECT_TRUE(told[0].startsWith(texts.text(902))) << told[0].toStdString();
    EXPECT_TRUE(told[0].contains(texts.text(c.reason))) << told[0].toStdString();
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(installer_->busy());
    EXPECT_FALSE(QFile::exists(marker()));
    // The package is kept where it was saved, its entry in the list.
    EXPECT_TRUE(QFile::exists(saved));
    EXPECT_EQ(StateOf(record(slot)), ListEntryState::Finished);
    EXPECT_EQ(actions.calls, (QStringList{"powerOff", "endProgram"}));
    // Nothing outside the update's own folder.
    EXPECT_FALSE(QFile::exists(temp() + QStringLiteral("escaped")));
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("escaped"))));
    if (c.reason != 905) {
        // Never unpacked at all.
        EXPECT_FALSE(QFile::exists(unpacked() + QStringLiteral("/bin/Brenloft")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packages, UpdateInstallerRefuses,
    ::testing::Values(BadPackage{"unsigned", "good", 0, false, false, 903},
                      BadPackage{"signed_by_another_key", "good", 2, false, false, 904},
                      BadPackage{"one_byte_changed", "good", 1, true, false, 904},
                      BadPackage{"zip_slip_member", "slip", 1, false, false, 905},
                      BadPackage{"updater_missing", "good", 1, false, true, 906},
                      BadPackage{"older_announced_as_newer", "old", 1, false, false, 902, false,
                                 "this update (1.0) is not newer than the running Brenloft 1"},
                      BadPackage{"swapped_after_check", "good", 1, false, false, 0, true}),
    [](const ::testing::TestParamInfo<BadPackage>& info) { return info.param.name; });

TEST_F(UpdateInstallerTest, ALinkInPlaceOfTheFolderIsNotFollowed) {
    const QString saved = downloads() + QStringLiteral("kestor15.zip");
    const int slot =
        downloaded(QStringLiteral("kestor15.zip"), QStringLiteral("good"), &maker, saved);
    const QString precious = file(QStringLiteral("precious"));
    ASSERT_TRUE(QDir().mkpath(precious));
    ASSERT_TRUE(WriteFile(precious + QStringLiteral("/keep"), "mine"));
    ASSERT_TRUE(QFile::link(precious, unpacked()));

    installer().Install(slot, saved);
    ASSERT_TRUE(WaitFor([&] { return quits > 0 || !told.isEmpty(); }, std::chrono::seconds(30)));
    EXPECT_EQ(told, QStringList());
    EXPECT_EQ(ReadFile(precious + QStringLiteral("/keep")), "mine");
    EXPECT_FALSE(QFileInfo(unpacked()).isSymLink());
    EXPECT_TRUE(QFile::exists(unpacked() + QStringLiteral("/bin/Brenloft")));
}

}  // namespace
