// The options window over a private settings file: every control saves its setting, every
// refused input shows its text and saves nothing, the browser boxes act on browsers found on a
// PATH of the test's own, and every page lays out in every shipped language.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <functional>
#include <memory>

#include "core/settings/browser_hook_files.h"
#include "core/settings/settings_store.h"
#include "core/text/text_table.h"
#include "integration/browsers/browser_integration.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"
#include "ui/options/options_window.h"

namespace {

const QDateTime Now(QDate(2026, 12, 8), QTime(10, 0));

bool Executable(const QString& path) {
    return WriteFile(path, "#!/bin/sh\n") &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct OptionsWindowTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(bin));
        ASSERT_TRUE(QDir().mkpath(app));
        for (const char* browser : {"chromium", "firefox"}) {
            ASSERT_TRUE(Executable(QDir(bin).filePath(QLatin1String(browser))));
        }
        ASSERT_TRUE(Executable(launcher));
        LoadSettings(settings, store, app, OleDate::fromDateTime(Now));
        settings.DownloadFolder = box.file(QStringLiteral("dl/"));
        settings.TempFolder = box.file(QStringLiteral("parts/"));
        ASSERT_TRUE(SaveSettings(settings, store));
        ASSERT_TRUE(LoadLanguage(texts, QStringLiteral("english"), languages));
    }

    Options& open() {
        BrowserIntegration::Setup setup;
        setup.places = {
            box.file(QStringLiteral("home")), box.file(QStringLiteral("config")), {bin}};
        setup.launcher = launcher;
        setup.start = [this](const QString& program, const QStringList& arguments) {
            started << QFileInfo(program).fileName() + u' ' + arguments.join(u' ');
            return startWorks;
        };
        browsers = std::make_unique<BrowserIntegration>(setup);
        window = std::make_unique<Options>(
            Options::Context{settings, store, texts, languages, app, *browsers,
                             AutoStartEntry(QStringLiteral("/opt/brenloft/Brenloft"),
                                            box.file(QStringLiteral("config")))});
        window->setMessage([this](const QString& text, QMessageBox::Icon) { messages << text; });
        window->setClock([] { return Now; });
        window->RefreshFromOptions();
        return *window;
    }
    template <typename T>
    T* control(const char* name) {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The settings as a file holds them: what OK saved.
    Settings saved() {
        SettingsStore again(store.path());
        Settings s;
        LoadSettings(s, again, app, OleDate::fromDateTime(Now));
        return s;
    }
    QString manifest(const char* folder) const {
        return box.file(QLatin1String(folder)) +
               QStringLiteral("/velmoraproject.velmora_launcher.json");
    }

    Sandbox box;
    QString bin = box.file(QStringLiteral("bin"));
    QString app = box.file(QStringLiteral("app"));
    QString launcher = box.file(QStringLiteral("VelmoraLauncher"));
    QStringList languages{SourcePath(QStringLiteral("data/lang"))};
    SettingsStore store{box.file(QStringLiteral("Velmora.ini"))};
    Settings settings;
    TextTable texts;
    std::unique_ptr<BrowserIntegration> browsers;
    std::unique_ptr<Options> window;
    QStringList messages;
    QStringList started;
    bool startWorks = true;
};

}  // namespace

TEST_F(OptionsWindowTest, EveryControlSavesItsSetting) {
    using Change = std::function<void(OptionsWindowTest&)>;
    using Read = std::function<QString(const Settings&)>;
    struct Row {
        const char* control;
        Change change;
        Read read;
        QString expected;
    };
    auto text = [](const char* name, const QString& value) -> Change {
        return [=](OptionsWindowTest& t) { t.control<QLineEdit>(name)->setText(value); };
    };
    auto tick = [](const char* name) -> Change {
        return [=](OptionsWindowTest& t) {
            auto* box = t.control<QAbstractButton>(name);
            box->setChecked(!box->isChecked());
        };
    };
    auto number = [](auto member) -> Read {
        return [=](const Settings& s) { return QString::number(s.*member); };
    };
    auto string = [](QString Settings::*member) -> Read {
        return [=](const Settings& s) { return s.*member; };
    };
    auto date = [](OleDate Settings::*member) -> Read {
        return [=](const Settings& s) { return DateToText(s.*member); };
    };
    const QString dl2 = box.file(QStringLiteral("dl2"));
    const std::vector<Row> rows = {
        {"Text2", text("Text2", dl2), string(&Settings::DownloadFolder), dl2 + u'/'},
        {"Text1", text("Text1", dl2 + "/t/"), string(&Settings::TempFolder), dl2 + "/t/"},
        {"Check3", tick("Check3"), number(&Settings::SaveAs), "-1"},
        {"Check4", tick("Check4"), number(&Settings::SafeDisk), "0"},
        {"Check5", tick("Check5"), number(&Settings::AutoPreviewZIP), "-1"},
        {"Check10", tick("Check10"), number(&Settings::AutoStart), "-1"},
        {"Check1", tick("Check1"), number(&Settings::CheckClipboard), "0"},
        {"Check16", tick("Check16"), number(&Settings::BrowserIngeration), "0"},
        {"Text9", text("Text9", "ISO,IMG"), string(&Settings::IgnoreString), "ISO,IMG"},
        {"CheckLookups", tick("CheckLookups"), number(&Settings::ChecksumLookups), "0"},
        {"Check12", tick("Check12"), number(&Settings::UseAntiVirus), "-1"},
        {"Text12", text("Text12", "clamscan %F"), string(&Settings::AntiVirusCommand),
         "clamscan %F"},
        {"Text3", text("Text3", "6"), number(&Settings::MaxSegments), "6"},
        {"Text4", text("Text4", "12"), number(&Settings::MaxSimulDownlads), "12"},
        {"Check11", tick("Check11"), number(&Settings::UseSpeedLimiter), "-1"},
        {"Text11", text("Text11", "2.5"), number(&Settings::SpeedLimiter), "2560"},
        {"SpinTries", [](OptionsWindowTest& t) { t.control<QSpinBox>("SpinTries")->setValue(7); },
         number(&Settings::MaxTries), "7"},
        {"Check7", tick("Check7"), number(&Settings::Schedule), "-1"},
        {"Option2", tick("Option2"), number(&Settings::ScheduleOption), "1"},
        {"Text5",
         [](OptionsWindowTest& t) { t.control<QDateEdit>("Text5")->setDate(QDate(2027, 5, 6)); },
         [](const Settings& s) { return s.ScheduleDate.toDateTime().date().toString(Qt::ISODate); },
         "2027-05-06"},
        {"Text6",
         [](OptionsWindowTest& t) { t.control<QTimeEdit>("Text6")->setTime(QTime(7, 45)); },
         [](const Settings& s) { return s.ScheduleDate.toDateTime().time().toString(); },
         "07:45:00"},
        {"Text10",
         [](OptionsWindowTest& t) { t.control<QTimeEdit>("Text10")->setTime(QTime(9, 15)); },
         date(&Settings::ScheduleHour), "2026-12-09 09:15:00"},
        {"Check6", tick("Check6"), number(&Settings::AutoCloseInternet), "-1"},
        {"Check17", tick("Check17"), number(&Settings::AutoShutDownComputer), "-1"},
        {"Text7", text("Text7", "proxy.example"), string(&Settings::ProxyServer), "proxy.example"},
        {"Check8", tick("Check8"), number(&Settings::ProxyHTTP), "-1"},
        {"OptionSocks5",
         [](OptionsWindowTest& t) {
             t.control<QLineEdit>("TextSocksServer")->setText(QStringLiteral("127.0.0.1"));
             t.control<QLineEdit>("TextSocksPort")->setText(QStringLiteral("1081"));
             t.control<QRadioButton>("OptionSocks5")->click();
         },
         [](const Settings& s) {
             return s.SocksServer + QString::number(s.SocksPort * 10 + s.SocksVersion);
         },
         "127.0.0.110815"},
        {"TextProxyUser", text("TextProxyUser", "ann"), string(&Settings::ProxyUser), "ann"},
        {"TextProxyPassword", text("TextProxyPassword", "p1"), string(&Settings::ProxyPassword),
         "p1"},
        {"TextSocksUser", text("TextSocksUser", "bob"), string(&Settings::SocksUser), "bob"},
        {"TextSocksPassword", text("TextSocksPassword", "p2"), string(&Settings::SocksPassword),
         "p2"},
        {"CheckSystemProxy", tick("CheckSystemProxy"), number(&Settings::SystemProxy), "-1"},
        {"Text8", text("Text8", "50000"), number(&Settings::ProxyPort), "50000"},
        {"Option3_2", tick("Option3_2"), number(&Settings::BrowserIEIntegrationMode), "2"},
        {"Combo1",
         [](OptionsWindowTest& t) {
             t.control<QComboBox>("Combo1")->setCurrentText(QStringLiteral("Français"));
         },
         string(&Settings::Language), "francais"},
        {"Check13", tick("Check13"), number(&Settings::BrowserIEIntegration), "-1"},
        {"Check15", tick("Check15"), number(&Settings::BroswerFirefoxIntegration), "-1"},
        {"CheckRemote", tick("CheckRemote"), number(&Settings::UseRemoteControl), "-1"},
        {"TextRemotePort", text("TextRemotePort", "6900"), number(&Settings::RemoteControlPort),
         "6900"},
        {"TextRemoteSecret", text("TextRemoteSecret", " s3cret "),
         string(&Settings::RemoteControlSecret), "s3cret"},
        {"CheckListenAll", tick("CheckListenAll"), number(&Settings::RemoteControlListenAll), "-1"},
        {"TextCertificate", text("TextCertificate", "/c.pem"),
         string(&Settings::RemoteControlCertificate), "/c.pem"},
        {"TextPrivateKey", text("TextPrivateKey", "/k.pem"),
         string(&Settings::RemoteControlPrivateKey), "/k.pem"},
        {"CheckNotifications", tick("CheckNotifications"), number(&Settings::Notifications), "0"},
        {"CheckStayAwake", tick("CheckStayAwake"), number(&Settings::StayAwake), "0"},
        {"CheckSortByKind", tick("CheckSortByKind"), number(&Settings::SortByKind), "-1"},
        {"TextSortPrograms", text("TextSortPrograms", "deb .RPM"), string(&Settings::SortPrograms),
         "deb rpm"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control);
        open();
        const QString before = row.read(settings);
        ASSERT_NE(before, row.expected) << "the change must change something";
        row.change(*this);
        ASSERT_TRUE(window->OK_Click());
        EXPECT_EQ(row.read(settings), row.expected) << "in memory";
        EXPECT_EQ(row.read(saved()), row.expected) << "in the store";
        // Shown again as saved.
        open();
        window->OK_Click();
        EXPECT_EQ(row.read(saved()), row.expected) << "after a second OK";
    }
}

TEST_F(OptionsWindowTest, RefusedInputsShowTheirTextAndSaveNothing) {
    struct Row {
        const char* control;
        const char* value;
        int message;
    };
    const Row rows[] = {
        {"Text2", "", 796},
        {"Text1", "  ", 797},
        {"Text2", "relative", 860},
        {"Text1", "parts/", 861},
        {"Text3", "0", 798},
        {"Text3", "9", 798},
        {"Text4", "0", 799},
        {"Text4", "100", 799},
        {"Text8", "65536", 862},
        {"Text8", "-8080", 862},
        {"TextRemotePort", "-1", 1381},
        {"TextRemotePort", "65536", 1381},
    };
    const QByteArray ini = ReadFile(store.path());
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.control) + "=" + row.value);
        open();
        // Everything else changed too, so anything saved would show.
        control<QAbstractButton>("Check3")->click();
        control<QAbstractButton>("Check10")->click();
        control<QAbstractButton>("Check13")->click();
        control<QComboBox>("Combo1")->setCurrentText(QStringLiteral("Français"));
        control<QLineEdit>(row.control)->setText(QLatin1String(row.value));
        messages.clear();
        EXPECT_FALSE(window->OK_Click());
        EXPECT_EQ(messages, QStringList{texts.text(row.message)});
        EXPECT_FALSE(messages.value(0).isEmpty());
        EXPECT_EQ(ReadFile(store.path()), ini);
        EXPECT_EQ(settings.SaveAs, 0);
        EXPECT_EQ(settings.BrowserIEIntegration, 0);
        EXPECT_EQ(settings.Language, QStringLiteral("english"));
        EXPECT_EQ(texts.text(600), QStringLiteral("General")) << "no language loaded";
        EXPECT_FALSE(QFile::exists(app + QStringLiteral("/iemode.dat")));
        EXPECT_FALSE(QFile::exists(box.file(QStringLiteral("config/autostart"))));
        EXPECT_FALSE(QFile::exists(box.file(QStringLiteral("dl"))));
        EXPECT_TRUE(started.isEmpty());
        EXPECT_NE(window->result(), QDialog::Accepted) << "stays open";
    }
}

TEST_F(OptionsWindowTest, RefreshShowsTheSettingsAndTheBoxesTheirRules) {
    settings.UseAntiVirus = 0;
    settings.BrowserIngeration = -1;
    settings.SpeedLimiter = 512;
    settings.ProxyPort = 40000;
    settings.ScheduleOption = 1;
    settings.BrowserIEIntegrationMode = 3;
    settings.Language = QStringLiteral("FRANCAIS");
    open();
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), settings.DownloadFolder);
    EXPECT_EQ(control<QLineEdit>("Text11")->text(), QStringLiteral("0.5"));
    EXPECT_EQ(control<QLineEdit>("Text8")->text(), QStringLiteral("40000"));
    EXPECT_TRUE(control<QRadioButton>("Option2")->isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option3_3")->isChecked());
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), QStringLiteral("Français"));
    EXPECT_EQ(control<QComboBox>("Combo1")->count(), 2);
    // Shown, never changed here.
    EXPECT_TRUE(control<QCheckBox>("Check2")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("Check2")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>("Check9")->isEnabled());
    // The SOCKS server follows the choice of a version, its login SOCKS5; the system's
    // settings grey the page's own proxies.
    const std::pair<const char*, const char*> choices[] = {{"OptionSocks0", "001"},
                                                           {"OptionSocks4", "101"},
                                                           {"OptionSocks5", "111"},
                                                           {"CheckSystemProxy", "000"}};
    for (const auto& [choice, enabled] : choices) {
        control<QAbstractButton>(choice)->click();
        QString shown;
        for (const char* edit : {"TextSocksServer", "TextSocksUser", "Text7"}) {
            shown += control<QLineEdit>(edit)->isEnabled() ? u'1' : u'0';
        }
        EXPECT_EQ(shown, QLatin1String(enabled)) << choice;
    }
    // The anti-virus command follows its box.
    EXPECT_FALSE(control<QLineEdit>("Text12")->isEnabled());
    control<QCheckBox>("Check12")->click();
    EXPECT_TRUE(control<QLineEdit>("Text12")->isEnabled());
    // So do the extension lists their switch.
    EXPECT_FALSE(control<QLineEdit>("TextSortMusic")->isEnabled());
    control<QCheckBox>("CheckSortByKind")->click();
    EXPECT_TRUE(control<QLineEdit>("TextSortMusic")->isEnabled());
    // The menu entry and the modes can be chosen while any browser box is ticked.
    for (const char* browser : {"Check13", "Check15"}) {
        EXPECT_FALSE(control<QCheckBox>("Check16")->isEnabled()) << browser;
        EXPECT_FALSE(control<QRadioButton>("Option3_0")->isEnabled());
        control<QCheckBox>(browser)->click();
        EXPECT_TRUE(control<QCheckBox>("Check16")->isEnabled()) << browser;
        EXPECT_TRUE(control<QRadioButton>("Option3_0")->isEnabled());
        control<QCheckBox>(browser)->click();
    }
    // A browser that is not on the PATH cannot be chosen.
    EXPECT_TRUE(control<QCheckBox>("Check13")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>("Check14")->isEnabled()) << "no SeaMonkey";
    EXPECT_TRUE(control<QCheckBox>("Check15")->isEnabled());
    // Captions come from the table.
    EXPECT_EQ(window->windowTitle(), texts.text(791));
    EXPECT_EQ(control<QTabWidget>("TabStrip1")->tabText(1), texts.text(601));
    EXPECT_EQ(control<QGroupBox>("Frame6")->title(), texts.text(637));
}

TEST_F(OptionsWindowTest, GetNowAndBrowseFillTheirBoxes) {
    open();
    control<QAbstractButton>("Command2")->click();
    EXPECT_EQ(control<QDateEdit>("Text5")->date(), Now.date());
    EXPECT_EQ(control<QTimeEdit>("Text6")->time(), Now.time());

    QStringList asked;
    std::optional<QString> answer = QStringLiteral("/opt/Anti Virus/scan");
    window->setChooseFile([&](const QString& title, const QString& initial, const QString& filter) {
        asked << title << initial << filter;
        return answer;
    });
    control<QLineEdit>("Text12")->setText(QStringLiteral("scan %F --log=%s%S"));
    control<QAbstractButton>("Command3")->click();
    EXPECT_EQ(asked, (QStringList{texts.text(789), QStringLiteral("scan   --log=  "),
                                  QStringLiteral("All files (*)")}));
    EXPECT_EQ(control<QLineEdit>("Text12")->text(), QStringLiteral("\"/opt/Anti Virus/scan\""));
    answer.reset();
    control<QAbstractButton>("Command3")->click();
    EXPECT_EQ(control<QLineEdit>("Text12")->text(), QStringLiteral("\"/opt/Anti Virus/scan\""));
    answer = QStringLiteral("/usr/bin/clamscan");
    control<QAbstractButton>("Command3")->click();
    EXPECT_EQ(control<QLineEdit>("Text12")->text(), QStringLiteral("/usr/bin/clamscan"));

    EXPECT_EQ(Options::DialogFilter(QStringLiteral("Programs|*.sh;*.py|All (*)|*")),
              QStringLiteral("Programs (*.sh;*.py);;All (*)"));
}

TEST_F(OptionsWindowTest, OkAppliesTheBrowserBoxesTheModeFileAndAutostart) {
    open();
    QStringList applied;
    QObject::connect(window.get(), &Options::applied,
                     [&] { applied << QStringLiteral("applied"); });
    ASSERT_TRUE(window->OK_Click());
    // Nothing changed: no browser touched, yet the mode file is written.
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(ReadFile(app + QStringLiteral("/iemode.dat")), QByteArray("0\r\n"));
    EXPECT_EQ(applied.size(), 1);
    EXPECT_FALSE(
        QFile::exists(box.file(QStringLiteral("config/autostart/VelmoraAutoStart.desktop"))));

    open();
    control<QAbstractButton>("Check13")->click();
    control<QAbstractButton>("Check15")->click();
    control<QAbstractButton>("Option3_1")->click();
    control<QAbstractButton>("Check10")->click();
    ASSERT_TRUE(window->OK_Click());
    EXPECT_EQ(messages, (QStringList{texts.text(773), texts.text(773)}));
    EXPECT_EQ(started, (QStringList{QStringLiteral("chromium chrome://extensions/"),
                                    QStringLiteral("firefox about:addons")}));
    EXPECT_TRUE(QFile::exists(manifest("config/chromium/NativeMessagingHosts")));
    EXPECT_TRUE(QFile::exists(manifest("home/.mozilla/native-messaging-hosts")));
    EXPECT_EQ(ReadFile(app + QStringLiteral("/iemode.dat")), QByteArray("1\r\n"));
    EXPECT_TRUE(
        QFile::exists(box.file(QStringLiteral("config/autostart/VelmoraAutoStart.desktop"))));

    // Off again; and the launcher gone meanwhile does not matter for removing.
    QFile::remove(launcher);
    messages.clear();
    started.clear();
    open();
    control<QAbstractButton>("Check13")->click();
    control<QAbstractButton>("Check10")->click();
    ASSERT_TRUE(window->OK_Click());
    EXPECT_EQ(messages, QStringList{texts.text(774)});
    EXPECT_EQ(started, QStringList{QStringLiteral("chromium chrome://extensions/")});
    EXPECT_FALSE(QFile::exists(manifest("config/chromium/NativeMessagingHosts")));
    EXPECT_TRUE(QFile::exists(manifest("home/.mozilla/native-messaging-hosts")));
    EXPECT_FALSE(
        QFile::exists(box.file(QStringLiteral("config/autostart/VelmoraAutoStart.desktop"))));

    // A browser that does not start is named with the page to open in it.
    startWorks = false;
    messages.clear();
    open();
    control<QAbstractButton>("Check15")->click();
    ASSERT_TRUE(window->OK_Click());
    EXPECT_EQ(messages,
              (QStringList{texts.text(774), texts.text(1204).arg(bin + QStringLiteral("/firefox"),
                                                                 QStringLiteral("about:addons"))}));
    startWorks = true;

    // Without the launcher the box is still saved as on, with 772 and no browser started.
    messages.clear();
    started.clear();
    open();
    control<QAbstractButton>("Check13")->click();
    ASSERT_TRUE(window->OK_Click());
    EXPECT_EQ(messages, QStringList{texts.text(772)});
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(saved().BrowserIEIntegration, -1);
}

TEST_F(OptionsWindowTest, OkLoadsTheChosenLanguageEvenWhenUnchanged) {
    open();
    texts.set(600, QStringLiteral("changed since"));
    ASSERT_TRUE(window->OK_Click());
    EXPECT_EQ(texts.text(600), QStringLiteral("General")) << "English loaded again";
    open();
    control<QComboBox>("Combo1")->setCurrentText(QStringLiteral("Français"));
    ASSERT_TRUE(window->OK_Click());
    EXPECT_EQ(texts.text(600), QStringLiteral("Général"));
    EXPECT_EQ(saved().Language, QStringLiteral("francais"));
    // Opened again, the window is in the new language.
    open();
    EXPECT_EQ(control<QAbstractButton>("Command1")->text(), QStringLiteral("Annuler"));
}

namespace {

// Each control inside its frame, nothing narrower than its text, wrapped texts tall enough.
void ExpectTidyPage(QWidget* frame, const QString& name) {
    SCOPED_TRACE(name.toStdString());
    const QRect inside = frame->rect();
    for (QWidget* w : frame->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->parentWidget() != frame) {
            continue;
        }
        const QString what = w->objectName() + u' ' + w->metaObject()->className();
        EXPECT_TRUE(inside.contains(w->geometry())) << what.toStdString();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->wordWrap()) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << what.toStdString();
            } else {
                EXPECT_GE(label->width(), label->sizeHint().width()) << what.toStdString();
            }
        } else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QDateTimeEdit*>(w) ||
                   qobject_cast<QComboBox*>(w)) {
            EXPECT_GE(w->width(), w->sizeHint().width()) << what.toStdString();
        }
        for (QWidget* other : frame->findChildren<QWidget*>()) {
            if (other != w && other->isVisible() && other->parentWidget() == frame) {
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << what.toStdString() << " overlaps " << other->objectName().toStdString();
            }
        }
    }
}

}  // namespace

TEST_F(OptionsWindowTest, EveryPageLaysOutInEveryShippedLanguage) {
    for (const QString& language : {QStringLiteral("english"), QStringLiteral("francais")}) {
        ASSERT_TRUE(LoadLanguage(texts, language, languages));
        open();
        window->show();
        auto* tabs = control<QTabWidget>("TabStrip1");
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QApplication::processEvents();
            auto* frame = window->findChild<QGroupBox*>(QStringLiteral("Frame%1").arg(page + 1));
            ASSERT_NE(frame, nullptr);
            ExpectTidyPage(frame, language + QStringLiteral(" page %1").arg(page + 1));
            EXPECT_TRUE(window->rect().contains(
                QRect(frame->mapTo(window.get(), QPoint()), frame->size())));
        }
    }
}
