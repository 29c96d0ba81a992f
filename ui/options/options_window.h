#pragma once

#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

#include "core/settings/options_form.h"
#include "core/text/language_list.h"
#include "integration/autostart/autostart_entry.h"

class BrowserIntegration;
class HostLimits;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;
class SettingsStore;
class TextTable;

// The options window `options`: eight pages in the tab strip `TabStrip1` (the frames `Frame1`
// to `Frame8`), each control named and captioned as the program's design names it. It works
// on the settings in memory: RefreshFromOptions fills the controls, OK checks them, applies
// the browser and autostart changes, loads the chosen language, saves and closes; Cancel
// closes and changes nothing. Dates and times show in the user's locale.
//
// OK reports through applied(); the owner makes the rest of the program follow (the speed
// limit on running downloads, the language on every open window).
class Options : public QDialog {
    Q_OBJECT
public:
    using Message = std::function<void(const QString& text, QMessageBox::Icon icon)>;
    // The file-open dialog: title, initial file, filter in Qt's form; nothing when cancelled.
    using ChooseFile = std::function<std::optional<QString>(
        const QString& title, const QString& initial, const QString& filter)>;
    using Clock = std::function<QDateTime()>;

    struct Context {
        Settings& settings;
        SettingsStore& store;
        TextTable& texts;
        QStringList languageFolders;  // where the language files are, first match wins
        QString applicationFolder;    // where "iemode.dat" goes
        BrowserIntegration& browsers;
        AutoStartEntry autoStart;
        // The servers that took fewer connections, shown on the connection page; none: the
        // list stays empty.
        HostLimits* hostLimits = nullptr;
        // A new remote control secret, for the "New secret" button and for turning the remote
        // control on without one; none: the secret is left as it is.
        std::function<QString()> newSecret = {};
    };

    explicit Options(Context context, QWidget* parent = nullptr);
    ~Options() override;

    // Fills every control from the settings in memory.
    void RefreshFromOptions();

    // OK: false when a check refused (its message shown, the window open, nothing changed).
    bool OK_Click();
    void Command1_Click();  // Cancel
    void Command2_Click();  // Get now
    void Command3_Click();  // Browse...

    // What the controls hold now, and filling them from plain values.
    OptionsForm form() const;
    void showForm(const OptionsForm& form);

    // The message boxes, the file dialog and the clock, replaceable so that tests answer
    // without modal windows.
    void setMessage(Message message) { message_ = std::move(message); }
    void setChooseFile(ChooseFile choose) { chooseFile_ = std::move(choose); }
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // The interface text's filter ("text|pattern|text|pattern") as Qt's file dialogs take it.
    static QString DialogFilter(const QString& filter);

signals:
    // OK saved the settings. The language table was loaded with the chosen language (it is
    // reloaded even when unchanged), so the open windows should take its texts.
    void applied();

private:
    // The pages (options_pages.cpp).
    QWidget* generalPage();
    QWidget* connectionPage();
    QWidget* schedulingPage();
    QWidget* proxyPage();
    QWidget* languagePage();
    QWidget* integrationPage();
    QWidget* remoteControlPage();  // options_remote_control.cpp
    QWidget* desktopPage();        // options_desktop_page.cpp
    void showDesktopPage(const OptionsForm& form);
    void readDesktopPage(OptionsForm& form) const;
    // The extension lists can be changed while sorting is on.
    void CheckSortByKind_Click();

    // The servers that took fewer connections (options_host_limits.cpp).
    QGroupBox* hostLimitsFrame();
    void showHostLimits();
    void CommandForget_Click();
    void Check12_Click();
    // The system's proxy settings grey the page's own proxies; SOCKS4 greys the SOCKS login.
    void ProxyChoices_Click();
    int socksVersion() const;
    void BrowserBoxes_Click();  // Check13, Check14 and Check15
    void applyBrowserBoxes();
    // The remote control page's switch, its "New secret" and browse buttons, and the address
    // line below them.
    void CheckRemote_Click();
    void CommandNewSecret_Click();
    void chooseRemoteFile(QLineEdit* edit, int title);
    void showRemoteAddress();
    void applyLanguage();
    void tell(int text, QMessageBox::Icon icon);

    Context ctx_;
    QList<LanguageEntry> languages_;
    Message message_;
    ChooseFile chooseFile_;
    Clock clock_;

    QTabWidget* TabStrip1 = nullptr;
    // General
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QCheckBox* Check3 = nullptr;
    QCheckBox* Check4 = nullptr;
    QCheckBox* Check5 = nullptr;
    QCheckBox* Check10 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QLineEdit* Text9 = nullptr;
    QCheckBox* CheckLookups = nullptr;
    QCheckBox* Check12 = nullptr;
    QLineEdit* Text12 = nullptr;
    QPushButton* Command3 = nullptr;
    // Connection
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QCheckBox* Check11 = nullptr;
    QLineEdit* Text11 = nullptr;
    QSpinBox* SpinTries = nullptr;
    QListWidget* ListHosts = nullptr;
    QPushButton* CommandForget = nullptr;
    // Scheduling
    QCheckBox* Check7 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QDateEdit* Text5 = nullptr;
    QTimeEdit* Text6 = nullptr;
    QPushButton* Command2 = nullptr;
    QTimeEdit* Text10 = nullptr;
    QCheckBox* Check6 = nullptr;
    QCheckBox* Check17 = nullptr;
    // Proxy
    QCheckBox* CheckSystemProxy = nullptr;
    QCheckBox* Check8 = nullptr;
    QCheckBox* Check9 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* TextProxyUser = nullptr;
    QLineEdit* TextProxyPassword = nullptr;
    std::array<QRadioButton*, 3> OptionSocks{};  // none, SOCKS4, SOCKS5
    QLineEdit* TextSocksServer = nullptr;
    QLineEdit* TextSocksPort = nullptr;
    QLineEdit* TextSocksUser = nullptr;
    QLineEdit* TextSocksPassword = nullptr;
    QList<QWidget*> ownProxies_;   // greyed while the system's settings are used
    QList<QWidget*> socksServer_;  // greyed while no SOCKS version is chosen
    QList<QWidget*> socksLogin_;   // greyed but for SOCKS5
    // Language
    QComboBox* Combo1 = nullptr;
    // Integration
    QCheckBox* Check13 = nullptr;
    std::array<QRadioButton*, 4> Option3{};
    QCheckBox* Check16 = nullptr;
    QCheckBox* Check14 = nullptr;
    QCheckBox* Check15 = nullptr;
    // Remote control
    QCheckBox* CheckRemote = nullptr;
    QLineEdit* TextRemotePort = nullptr;
    QLineEdit* TextRemoteSecret = nullptr;
    QPushButton* CommandNewSecret = nullptr;
    QCheckBox* CheckListenAll = nullptr;
    QLineEdit* TextCertificate = nullptr;
    QLineEdit* TextPrivateKey = nullptr;
    QLabel* LabelRemoteAddress = nullptr;
    QList<QWidget*> remoteControls_;  // enabled only while the switch is on
    // Desktop
    QCheckBox* CheckNotifications = nullptr;
    QCheckBox* CheckStayAwake = nullptr;
    QCheckBox* CheckSortByKind = nullptr;
    std::array<QLineEdit*, 7> TextSort{};  // one per kind, in KindSettings() order
    QList<QWidget*> sortControls_;         // greyed while sorting is off
};
