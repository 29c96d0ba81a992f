#include "ui/options/options_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "core/diagnostics/log_categories.h"
#include "core/settings/browser_hook_files.h"
#include "core/settings/settings_store.h"
#include "core/text/text_table.h"
#include "engine/assembly/antivirus_command.h"
#include "integration/browsers/browser_integration.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"

namespace {

bool Ticked(const QCheckBox* box) {
    // A greyed box counts as ticked, as it always has.
    return box->checkState() != Qt::Unchecked;
}

std::int16_t FlagOf(bool on) {
    return on ? std::int16_t(-1) : std::int16_t(0);
}

}  // namespace

Options::Options(Context context, QWidget* parent) : QDialog(parent), ctx_(std::move(context)) {
    setObjectName(QStringLiteral("options"));
    setWindowTitle(QStringLiteral("Brenloft Options "));
    SetTag(this, 791);

    TabStrip1 = new QTabWidget(this);
    TabStrip1->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1->addTab(generalPage(), QStringLiteral("General"));
    TabStrip1->addTab(connectionPage(), QStringLiteral("Connection"));
    TabStrip1->addTab(schedulingPage(), QStringLiteral("Scheduling"));
    TabStrip1->addTab(proxyPage(), QStringLiteral("Proxy"));
    TabStrip1->addTab(languagePage(), QStringLiteral("Language"));
    TabStrip1->addTab(integrationPage(), QStringLiteral("Integration"));
    TabStrip1->addTab(remoteControlPage(), QStringLiteral("Remote control"));
    TabStrip1->addTab(desktopPage(), QStringLiteral("Desktop"));
    SetTabTags(TabStrip1, {600, 601, 602, 603, 604, 1053, 1372, 1481});
    // Every tab in sight, in every language: the window is as wide as the tabs need.
    TabStrip1->setUsesScrollButtons(false);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OK"));
    SetTag(ok, 635);
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("Command1"));
    SetTag(cancel, 636);
    connect(ok, &QPushButton::clicked, this, [this] { OK_Click(); });
    connect(cancel, &QPushButton::clicked, this, &Options::Command1_Click);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TabStrip1, 1);
    layout->addWidget(buttons);

    message_ = [this](const QString& text, QMessageBox::Icon icon) {
        ShowMessageBox(icon, text, QMessageBox::Ok, this);
    };
    chooseFile_ = [this](const QString& title, const QString& initial, const QString& filter) {
        const QString chosen = QFileDialog::getOpenFileName(this, title, initial, filter);
        return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
    };
    clock_ = [] { return QDateTime::currentDateTime(); };

    ApplyLanguage(this, ctx_.texts);
}

Options::~Options() = default;

void Options::RefreshFromOptions() {
    showForm(FormFromSettings(ctx_.settings));
    showHostLimits();

    // Browsers come and go between openings; a box whose browser is missing cannot change.
    ctx_.browsers.refresh();
    Check13->setEnabled(ctx_.browsers.familyFound(BrowserFamily::Chromium));
    Check14->setEnabled(ctx_.browsers.familyFound(BrowserFamily::SeaMonkey));
    Check15->setEnabled(ctx_.browsers.familyFound(BrowserFamily::Firefox));

    Combo1->clear();
    languages_ = ListLanguages(ctx_.languageFolders);
    for (const LanguageEntry& entry : languages_) {
        Combo1->addItem(entry.name);
    }
    Combo1->setCurrentIndex(LanguageIndexForKey(languages_, ctx_.settings.Language));
}

void Options::showForm(const OptionsForm& f) {
    Text2->setText(f.downloadFolder);
    Text1->setText(f.tempFolder);
    Check3->setChecked(f.saveAs);
    Check4->setChecked(f.safeDisk);
    Check5->setChecked(f.autoPreviewZip);
    Check10->setChecked(f.autoStart);
    Check1->setChecked(f.checkClipboard);
    Check2->setChecked(f.popupMenu);
    Text9->setText(f.ignoreString);
    CheckLookups->setChecked(f.checksumLookups);
    Check12->setChecked(f.useAntiVirus);
    Text12->setText(f.antiVirusCommand);
    Check12_Click();
    Text3->setText(f.maxSegments);
    Text4->setText(f.maxSimultaneous);
    Check11->setChecked(f.useSpeedLimiter);
    Text11->setText(f.speedKilobytes);
    SpinTries->setValue(f.maxTries);
    Check7->setChecked(f.schedule);
    (f.daily ? Option2 : Option1)->setChecked(true);
    Text5->setDate(f.scheduleDate.date());
    Text6->setTime(f.scheduleDate.time());
    Text10->setTime(f.scheduleHour);
    Check6->setChecked(f.autoCloseInternet);
    Check17->setChecked(f.autoShutDownComputer);
    Check8->setChecked(f.proxyHttp);
    Check9->setChecked(f.proxyFtp);
    Text7->setText(f.proxyServer);
    Text8->setText(f.proxyPort);
    TextProxyUser->setText(f.proxyUser);
    TextProxyPassword->setText(f.proxyPassword);
    OptionSocks[f.socksVersion == 4 ? 1 : f.socksVersion == 5 ? 2 : 0]->setChecked(true);
    TextSocksServer->setText(f.socksServer);
    TextSocksPort->setText(f.socksPort);
    TextSocksUser->setText(f.socksUser);
    TextSocksPassword->setText(f.socksPassword);
    CheckSystemProxy->setChecked(f.systemProxy);
    ProxyChoices_Click();
    Check13->setChecked(f.chromiumFamily);
    Check16->setChecked(f.popupMenu);
    if (f.integrationMode >= 0 && f.integrationMode < int(Option3.size())) {
        Option3[size_t(f.integrationMode)]->setChecked(true);
    }
    Check14->setChecked(f.seaMonkey);
    Check15->setChecked(f.firefox);
    BrowserBoxes_Click();
    CheckRemote->setChecked(f.remoteControl);
    TextRemotePort->setText(f.remotePort);
    TextRemoteSecret->setText(f.remoteSecret);
    CheckListenAll->setChecked(f.remoteListenAll);
    TextCertificate->setText(f.remoteCertificate);
    TextPrivateKey->setText(f.remotePrivateKey);
    for (QWidget* control : remoteControls_) {
        control->setEnabled(f.remoteControl);
    }
    showRemoteAddress();
    showDesktopPage(f);
}

OptionsForm Options::form() const {
    OptionsForm f;
    f.downloadFolder = Text2->text();
    f.tempFolder = Text1->text();
    f.saveAs = Ticked(Check3);
    f.safeDisk = Ticked(Check4);
    f.autoPreviewZip = Ticked(Check5);
    f.autoStart = Ticked(Check10);
    f.checkClipboard = Ticked(Check1);
    f.popupMenu = Ticked(Check16);  // Check2 only shows it
    f.ignoreString = Text9->text();
    f.checksumLookups = Ticked(CheckLookups);
    f.useAntiVirus = Ticked(Check12);
    f.antiVirusCommand = Text12->text();
    f.maxSegments = Text3->text();
    f.maxSimultaneous = Text4->text();
    f.useSpeedLimiter = Ticked(Check11);
    f.speedKilobytes = Text11->text();
    f.maxTries = SpinTries->value();
    f.schedule = Ticked(Check7);
    f.daily = Option2->isChecked();
    f.scheduleDate = QDateTime(Text5->date(), Text6->time());
    f.scheduleHour = Text10->time();
    f.autoCloseInternet = Ticked(Check6);
    f.autoShutDownComputer = Ticked(Check17);
    f.proxyHttp = Ticked(Check8);
    f.proxyFtp = Ticked(Check9);
    f.proxyServer = Text7->text();
    f.proxyPort = Text8->text();
    f.proxyUser = TextProxyUser->text();
    f.proxyPassword = TextProxyPassword->text();
    f.socksVersion = socksVersion();
    f.socksServer = TextSocksServer->text();
    f.socksPort = TextSocksPort->text();
    f.socksUser = TextSocksUser->text();
    f.socksPassword = TextSocksPassword->text();
    f.systemProxy = Ticked(CheckSystemProxy);
    f.chromiumFamily = Ticked(Check13);
    f.integrationMode = -1;
    for (size_t i = 0; i < Option3.size(); ++i) {
        if (Option3[i]->isChecked()) {
            f.integrationMode = int(i);
        }
    }
    f.seaMonkey = Ticked(Check14);
    f.firefox = Ticked(Check15);
    f.remoteControl = Ticked(CheckRemote);
    f.remotePort = TextRemotePort->text();
    f.remoteSecret = TextRemoteSecret->text();
    f.remoteListenAll = Ticked(CheckListenAll);
    f.remoteCertificate = TextCertificate->text();
    f.remotePrivateKey = TextPrivateKey->text();
    readDesktopPage(f);
    return f;
}

void Options::Check12_Click() {
    Text12->setEnabled(Ticked(Check12));
}

int Options::socksVersion() const {
    return OptionSocks[1]->isChecked() ? 4 : OptionSocks[2]->isChecked() ? 5 : 0;
}

void Options::ProxyChoices_Click() {
    const bool own = !Ticked(CheckSystemProxy);
    const int version = socksVersion();
    for (QWidget* control : ownProxies_) {
        control->setEnabled(own);
    }
    for (QWidget* control : socksServer_) {
        control->setEnabled(own && version != 0);
    }
    for (QWidget* control : socksLogin_) {
        control->setEnabled(own && version == 5);
    }
}

void Options::BrowserBoxes_Click() {
    // The mode and the menu entry are the extension's, in whichever browser has it.
    const bool on = Ticked(Check13) || Ticked(Check14) || Ticked(Check15);
    Check16->setEnabled(on);
    for (QRadioButton* option : Option3) {
        option->setEnabled(on);
    }
}

void Options::CheckRemote_Click() {
    const bool on = Ticked(CheckRemote);
    for (QWidget* control : remoteControls_) {
        control->setEnabled(on);
    }
    // Clients always need one: the first time on makes it, to be read off here.
    if (on && TextRemoteSecret->text().trimmed().isEmpty()) {
        CommandNewSecret_Click();
    }
}

void Options::CommandNewSecret_Click() {
    if (ctx_.newSecret) {
        TextRemoteSecret->setText(ctx_.newSecret());
    }
}

void Options::chooseRemoteFile(QLineEdit* edit, int title) {
    const std::optional<QString> chosen =
        chooseFile_(ctx_.texts.text(title), edit->text(), DialogFilter(ctx_.texts.text(1386)));
    if (chosen && !chosen->isEmpty()) {
        edit->setText(*chosen);
    }
}

void Options::showRemoteAddress() {
    const bool tls =
        !TextCertificate->text().trimmed().isEmpty() && !TextPrivateKey->text().trimmed().isEmpty();
    const QString address = QStringLiteral("%1://127.0.0.1:%2/jsonrpc")
                                .arg(tls ? QLatin1String("https") : QLatin1String("http"),
                                     TextRemotePort->text().trimmed());
    LabelRemoteAddress->setText(ctx_.texts.text(1380).arg(address));
}

void Options::Command2_Click() {
    const QDateTime now = clock_();
    Text5->setDate(now.date());
    Text6->setTime(now.time());
}

QString Options::DialogFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& text = parts[i];
        // Qt reads the patterns from the parentheses; a text without them gets its pattern.
        filters << (text.contains(u'(') ? text : text + QStringLiteral(" (") + parts[i + 1] + u')');
    }
    return filters.join(QStringLiteral(";;"));
}

void Options::Command3_Click() {
    QString initial = Text12->text();
    for (const char* placeholder : {"%F", "%S", "%s"}) {
        initial.replace(QLatin1String(placeholder), QStringLiteral(" "));
    }
    const std::optional<QString> chosen =
        chooseFile_(ctx_.texts.text(789), initial, DialogFilter(ctx_.texts.text(790)));
    if (!chosen || chosen->isEmpty()) {
        return;
    }
    // Quoted when it has blanks, so the command line still splits into the right words.
    Text12->setText(CommandWord(*chosen));
}

void Options::Command1_Click() {
    reject();
}

void Options::tell(int text, QMessageBox::Icon icon) {
    message_(ctx_.texts.text(text), icon);
}

bool Options::OK_Click() {
    const OptionsCheck check = CheckOptionsForm(form(), ctx_.settings, clock_());
    if (check.message != 0) {
        qCInfo(lcUi) << "options refused with text" << check.message;
        tell(check.message, check.icon == OptionsCheck::Icon::Warning ? QMessageBox::Warning
                                                                      : QMessageBox::Information);
        return false;
    }
    ctx_.settings = check.settings;
    applyBrowserBoxes();
    WriteIeModeFile(ctx_.applicationFolder, ctx_.settings.BrowserIEIntegrationMode);
    ctx_.autoStart.set(ctx_.settings.AutoStart != 0);
    applyLanguage();
    if (!SaveSettings(ctx_.settings, ctx_.store)) {
        qCWarning(lcUi) << "the options could not be written to" << ctx_.store.path();
    }
    emit applied();
    accept();
    return true;
}

void Options::applyBrowserBoxes() {
    struct Box {
        QCheckBox* check;
        std::int16_t Settings::*setting;
        BrowserFamily family;
    };
    const std::array<Box, 3> boxes{{
        {Check13, &Settings::BrowserIEIntegration, BrowserFamily::Chromium},
        {Check14, &Settings::BroswerMozillaIntegration, BrowserFamily::SeaMonkey},
        {Check15, &Settings::BroswerFirefoxIntegration, BrowserFamily::Firefox},
    }};
    // A box left as it was runs nothing; the boxes that stay on keep what they share.
    QSet<BrowserFamily> on;
    for (const Box& box : boxes) {
        if (Ticked(box.check)) {
            on.insert(box.family);
        }
    }
    for (const Box& box : boxes) {
        const bool wanted = Ticked(box.check);
        if (wanted == (ctx_.settings.*box.setting != 0)) {
            continue;
        }
        ctx_.settings.*box.setting = FlagOf(wanted);
        const int text = ctx_.browsers.setFamily(box.family, wanted, on);
        if (text == 772) {
            qCWarning(lcUi).noquote() << "browser integration:" << ctx_.browsers.why();
        }
        tell(text, text == 772 ? QMessageBox::Critical : QMessageBox::Information);
        if (text != 772 && ctx_.browsers.familyFound(box.family) &&
            !ctx_.browsers.openExtensionPage(box.family, wanted)) {
            // Without its browser the user still has to add or remove the extension.
            message_(ctx_.texts.text(1204).arg(ctx_.browsers.program(box.family),
                                               ctx_.browsers.extensionPage(box.family, wanted)),
                     QMessageBox::Warning);
        }
    }
}

void Options::applyLanguage() {
    const int index = Combo1->currentIndex();
    if (index < 0) {
        return;  // nothing chosen: the language stays
    }
    const std::optional<QString> key = LanguageKeyForName(languages_, Combo1->itemText(index));
    if (!key) {
        return;
    }
    ctx_.settings.Language = *key;
    LoadLanguage(ctx_.texts, *key, ctx_.languageFolders);
}
