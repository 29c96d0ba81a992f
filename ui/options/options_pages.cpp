// The pages of the options window, each a frame of controls named and captioned as the
// program's design has them; the language table replaces the captions once they are built.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "ui/language/apply_language.h"
#include "ui/options/options_window.h"

namespace {

template <typename Widget>
Widget* Named(Widget* widget, const char* name, int tag) {
    widget->setObjectName(QLatin1String(name));
    if (tag != 0) {
        SetTag(widget, tag);
    }
    return widget;
}

QLabel* Label(const char* name, const char* caption, int tag) {
    return Named(new QLabel(QString::fromUtf8(caption)), name, tag);
}

QCheckBox* Check(const char* name, const char* caption, int tag) {
    return Named(new QCheckBox(QString::fromUtf8(caption)), name, tag);
}

QLabel* Note(const char* name, const char* caption, int tag) {
    QLabel* label = Label(name, caption, tag);
    label->setWordWrap(true);
    return label;
}

// A text box for a few digits: wide enough for them, not for a sentence.
QLineEdit* Digits(const char* name, int characters) {
    auto* edit = Named(new QLineEdit, name, 0);
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QString(characters + 2, u'0')) +
                          edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) * 6);
    return edit;
}

// A page: its frame with the controls, the rest of the page left empty below it.
QWidget* Page(QGroupBox* frame) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    layout->addStretch(1);
    return page;
}

QGroupBox* Frame(const char* name, const char* caption, int tag, QLayout* contents) {
    auto* frame = Named(new QGroupBox(QString::fromUtf8(caption)), name, tag);
    frame->setLayout(contents);
    return frame;
}

// The locale's short date, with the year in full: a two-digit year reads back a century off.
QString ShortDateFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy"))) {
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    }
    return format;
}

QTimeEdit* TimeBox(const char* name) {
    auto* edit = Named(new QTimeEdit, name, 0);
    edit->setDisplayFormat(QLocale().timeFormat(QLocale::ShortFormat));
    return edit;
}

}  // namespace

QWidget* Options::generalPage() {
    Text2 = Named(new QLineEdit, "Text2", 0);
    Text1 = Named(new QLineEdit, "Text1", 0);
    QLabel* label3 = Label("Label3", "Default downloads folder", 608);
    label3->setBuddy(Text2);
    QLabel* label1 = Label("Label1", "Temporary Segmented Files path :", 609);
    label1->setBuddy(Text1);
    Check3 = Check("Check3", "Choose the destination directory before downloading", 605);
    Check4 = Check("Check4", "Safe disk writing mode ( slower but avoid data losts )", 606);
    Check5 = Check("Check5", "Auto Preview ZIP files", 607);
    Check10 = Check("Check10", "Auto start when Windows starts.", 610);
    Check1 = Check("Check1", "Check URLs in the clipboard", 612);
    Check2 = Check("Check2", "Browser Integration ( right button popup ) ", 611);
    Check2->setEnabled(false);  // shows the setting; the Integration page changes it
    Text9 = Named(new QLineEdit, "Text9", 0);
    QLabel* label7 = Label(
        "Label7", "Ignore this kinds of files  (list of extensions separated by a comma)", 613);
    label7->setBuddy(Text9);
    CheckLookups = Check("CheckLookups", "Look for checksums on the server", 1368);
    Check12 = Check("Check12", "Check for viruses after download", 645);
    connect(Check12, &QCheckBox::clicked, this, &Options::Check12_Click);
    Text12 = Named(new QLineEdit, "Text12", 0);
    QLabel* label13 = Label("Label13", "Anti virus command line :", 646);
    label13->setBuddy(Text12);
    Command3 = Named(new QPushButton(QStringLiteral("Browse...")), "Command3", 788);
    Command3->setAutoDefault(false);
    connect(Command3, &QPushButton::clicked, this, &Options::Command3_Click);

    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(label3, row++, 0, 1, 2);
    grid->addWidget(Text2, row++, 0, 1, 2);
    grid->addWidget(label1, row++, 0, 1, 2);
    grid->addWidget(Text1, row++, 0, 1, 2);
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    for (QCheckBox* box : {Check3, Check4, Check5, Check10, Check1, Check2}) {
        grid->addWidget(box, row++, 0, 1, 2);
    }
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    grid->addWidget(label7, row++, 0, 1, 2);
    grid->addWidget(Text9, row++, 0, 1, 2);
    // Beside the other check of a finished file.
    grid->addWidget(CheckLookups, row++, 0, 1, 2);
    grid->addWidget(Check12, row++, 0, 1, 2);
    grid->addWidget(label13, row++, 0, 1, 2);
    grid->addWidget(Text12, row, 0);
    grid->addWidget(Command3, row, 1);
    grid->setColumnStretch(0, 1);
    return Page(Frame("Frame1", "General", 600, grid));
}

QWidget* Options::connectionPage() {
    Text3 = Digits("Text3", 1);
    Text4 = Digits("Text4", 2);
    QLabel* l1 = Label("l1", "Max Number of Segments (1-8) :", 615);
    l1->setBuddy(Text3);
    QLabel* label2 = Label("Label2", "Max Simultaneous downloads (1-99) :", 616);
    label2->setBuddy(Text4);
    SpinTries = Named(new QSpinBox, "SpinTries", 0);
    SpinTries->setRange(1, 999);
    QLabel* labelTries =
        Label("LabelTries", "Reconnect to a server that does not answer (times) :", 873);
    labelTries->setBuddy(SpinTries);
    QLabel* label9 = Label("Label9", "Speed/Bandwidth Limitation :", 617);
    Check11 = Check("Check11", "Enable Speed Limiter ", 618);
    Text11 = Digits("Text11", 7);
    QLabel* label10 = Label("Label10", "Max. Speed :", 619);
    label10->setBuddy(Text11);
    QLabel* label11 = Label("Label11", "KiB/s", 0);
    QLabel* label12 = Note("Label12",
                           "Note: If you enable the speed limiter, all future downloads won't be "
                           "accelerated by file segmentation system.",
                           620);

    auto* grid = new QGridLayout;
    grid->addWidget(l1, 0, 0);
    grid->addWidget(Text3, 0, 1);
    grid->addWidget(label2, 1, 0);
    grid->addWidget(Text4, 1, 1);
    grid->addWidget(labelTries, 2, 0);
    grid->addWidget(SpinTries, 2, 1);
    grid->setRowMinimumHeight(3, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    grid->addWidget(label9, 4, 0, 1, 3);
    grid->addWidget(Check11, 5, 0, 1, 3);
    auto* speed = new QHBoxLayout;
    speed->addWidget(label10);
    speed->addWidget(Text11);
    speed->addWidget(label11);
    speed->addStretch(1);
    grid->addLayout(speed, 6, 0, 1, 3);
    grid->addWidget(label12, 7, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    QWidget* page = Page(Frame("Frame2", "Connection settings", 614, grid));
    // Below the settings, above the empty rest of the page.
    static_cast<QVBoxLayout*>(page->layout())->insertWidget(1, hostLimitsFrame());
    return page;
}

QWidget* Options::schedulingPage() {
    Check7 = Check("Check7", "Starts scheduled downloads at this date :", 624);
    Option1 = Named(new QRadioButton(QStringLiteral("Fixed time :")), "Option1", 625);
    Option2 = Named(new QRadioButton(QStringLiteral("Daily :")), "Option2", 626);
    Text5 = Named(new QDateEdit, "Text5", 0);
    Text5->setDisplayFormat(ShortDateFormat());
    Text5->setCalendarPopup(true);
    Text6 = TimeBox("Text6");
    Command2 = Named(new QPushButton(QStringLiteral("Get now")), "Command2", 629);
    Command2->setAutoDefault(false);
    connect(Command2, &QPushButton::clicked, this, &Options::Command2_Click);
    Text10 = TimeBox("Text10");
    QLabel* label8 = Label("Label8", "Hour :", 627);
    label8->setBuddy(Text10);
    QLabel* label16 = Label("Label16", "Tasks to do when all queued downloadings are done :", 647);
    Check6 = Check("Check6", "Close Internet connection", 648);
    Check17 = Check("Check17", "Shut down the computer", 649);

    auto* grid = new QGridLayout;
    grid->addWidget(Check7, 0, 0, 1, 5);
    grid->addWidget(Option1, 1, 0);
    grid->addWidget(Text5, 1, 1);
    grid->addWidget(Text6, 1, 2);
    grid->addWidget(Command2, 1, 3);
    grid->addWidget(Option2, 2, 0);
    auto* hour = new QHBoxLayout;
    hour->addWidget(label8);
    hour->addWidget(Text10, 1);
    grid->addLayout(hour, 2, 1, 1, 2);
    grid->setRowMinimumHeight(3, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    grid->addWidget(label16, 4, 0, 1, 5);
    grid->addWidget(Check6, 5, 0, 1, 5);
    grid->addWidget(Check17, 6, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    return Page(Frame("Frame3", "Scheduling", 623, grid));
}

namespace {

// A label for an edit, put before it on the grid's row.
QLabel* Labelled(QGridLayout* grid, int row, int column, QLabel* label, QLineEdit* edit) {
    label->setBuddy(edit);
    grid->addWidget(label, row, column);
    grid->addWidget(edit, row, column + 1);
    return label;
}

}  // namespace

QWidget* Options::proxyPage() {
    CheckSystemProxy = Check("CheckSystemProxy", "Use the system's proxy settings", 1406);
    QLabel* systemNote = Note("LabelSystemProxy", "", 1411);
    Check8 = Check("Check8", "Use Proxy HTTP", 633);
    Check9 = Check("Check9", "Use Proxy FTP (not working yet)", 634);
    Check9->setEnabled(false);
    Text7 = Named(new QLineEdit, "Text7", 0);
    Text8 = Digits("Text8", 5);
    TextProxyUser = Named(new QLineEdit, "TextProxyUser", 0);
    TextProxyPassword = Named(new QLineEdit, "TextProxyPassword", 0);
    TextSocksServer = Named(new QLineEdit, "TextSocksServer", 0);
    TextSocksPort = Digits("TextSocksPort", 5);
    TextSocksUser = Named(new QLineEdit, "TextSocksUser", 0);
    TextSocksPassword = Named(new QLineEdit, "TextSocksPassword", 0);
    for (QLineEdit* password : {TextProxyPassword, TextSocksPassword}) {
        password->setEchoMode(QLineEdit::Password);
    }
    auto* socksChoice = new QHBoxLayout;
    const char* socksNames[] = {"OptionSocks0", "OptionSocks4", "OptionSocks5"};
    const char* socksCaptions[] = {"None", "SOCKS4", "SOCKS5"};
    for (int i = 0; i < 3; ++i) {
        OptionSocks[size_t(i)] =
            Named(new QRadioButton(QString::fromUtf8(socksCaptions[i])), socksNames[i], 1403 + i);
        socksChoice->addWidget(OptionSocks[size_t(i)]);
        connect(OptionSocks[size_t(i)], &QRadioButton::toggled, this, &Options::ProxyChoices_Click);
    }
    socksChoice->addStretch(1);
    connect(CheckSystemProxy, &QCheckBox::toggled, this, &Options::ProxyChoices_Click);

    auto* grid = new QGridLayout;
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    grid->setColumnMinimumWidth(0, indent);
    const int gap = style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2;
    grid->addWidget(CheckSystemProxy, 0, 0, 1, 5);
    grid->addWidget(systemNote, 1, 1, 1, 4);
    grid->setRowMinimumHeight(2, gap);
    grid->addWidget(Check8, 3, 0, 1, 5);
    grid->addWidget(Check9, 4, 0, 1, 5);
    ownProxies_ = {
        Check8,
        Labelled(grid, 5, 1, Label("Label4", "Server :", 631), Text7),
        Text7,
        Labelled(grid, 5, 3, Label("Label5", "Port :", 632), Text8),
        Text8,
        Labelled(grid, 6, 1, Label("LabelProxyUser", "User :", 1400), TextProxyUser),
        TextProxyUser,
        Labelled(grid, 6, 3, Label("LabelProxyPassword", "Password :", 1401), TextProxyPassword),
        TextProxyPassword};
    grid->setRowMinimumHeight(7, gap);
    QLabel* socksLabel = Label("LabelSocks", "SOCKS proxy :", 1402);
    grid->addWidget(socksLabel, 8, 0, 1, 2);
    grid->addLayout(socksChoice, 8, 2, 1, 3);
    ownProxies_ << socksLabel << OptionSocks[0] << OptionSocks[1] << OptionSocks[2];
    socksServer_ = {
        Labelled(grid, 9, 1, Label("LabelSocksServer", "Server :", 631), TextSocksServer),
        TextSocksServer,
        Labelled(grid, 9, 3, Label("LabelSocksPort", "Port :", 632), TextSocksPort), TextSocksPort};
    socksLogin_ = {
        Labelled(grid, 10, 1, Label("LabelSocksUser", "User :", 1400), TextSocksUser),
        TextSocksUser,
        Labelled(grid, 10, 3, Label("LabelSocksPassword", "Password :", 1401), TextSocksPassword),
        TextSocksPassword};
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(4, 1);
    return Page(Frame("Frame4", "Proxy settings :", 630, grid));
}

QWidget* Options::languagePage() {
    Combo1 = Named(new QComboBox, "Combo1", 0);
    QLabel* label6 = Label("Label6", "Select your prefered language for Brenloft :", 622);
    label6->setBuddy(Combo1);
    auto* column = new QVBoxLayout;
    column->addWidget(label6);
    auto* row = new QHBoxLayout;
    row->addWidget(Combo1);
    row->addStretch(1);
    column->addLayout(row);
    return Page(Frame("Frame5", "Language", 621, column));
}

QWidget* Options::integrationPage() {
    Check13 = Check("Check13", "Chromium, Google Chrome, Brave, Vivaldi, Microsoft Edge", 0);
    QLabel* label15 = Label("Label15", "Integration mode :", 638);
    const char* modes[] = {
        "Download always with Brenloft", "Download only when Ctrl Key is pressed",
        "Download only when Ctrl Key isn't pressed", "Never download with Brenloft"};
    Check16 = Check("Check16", "Add a command in Popup Menu", 643);
    Check14 = Check("Check14", "SeaMonkey", 0);
    Check15 = Check("Check15", "Firefox, LibreWolf", 0);
    for (QCheckBox* box : {Check13, Check14, Check15}) {
        connect(box, &QCheckBox::clicked, this, &Options::BrowserBoxes_Click);
    }
    QLabel* label14 = Note("Label14",
                           "FireFox and Mozilla integration will install an extension. You must "
                           "accept the installation and restart the browser in order to validate "
                           "the integration.",
                           644);

    auto* grid = new QGridLayout;
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    grid->setColumnMinimumWidth(0, indent);
    int row = 0;
    // The browsers first; the mode and the menu entry below apply to each one ticked.
    for (QCheckBox* box : {Check13, Check14, Check15}) {
        grid->addWidget(box, row++, 0, 1, 2);
    }
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    grid->addWidget(label15, row++, 0, 1, 2);
    for (int i = 0; i < int(Option3.size()); ++i) {
        auto* option = new QRadioButton(QString::fromUtf8(modes[i]));
        option->setObjectName(QStringLiteral("Option3_%1").arg(i));
        option->setProperty("index", i);
        SetTag(option, 639 + i);
        Option3[size_t(i)] = option;
        grid->addWidget(option, row++, 1);
    }
    grid->addWidget(Check16, row++, 1);
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    grid->addWidget(label14, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return Page(Frame("Frame6", "Browser integration", 637, grid));
}

QWidget* Options::remoteControlPage() {
    CheckRemote = Check("CheckRemote",
                        "Let other programs and devices control Brenloft (aria2 JSON-RPC)", 1373);
    connect(CheckRemote, &QCheckBox::clicked, this, &Options::CheckRemote_Click);
    TextRemotePort = Digits("TextRemotePort", 5);
    TextRemoteSecret = Named(new QLineEdit, "TextRemoteSecret", 0);
    // Room for a whole generated secret (32 letters), so that it can be read off and copied.
    TextRemoteSecret->setMinimumWidth(
        TextRemoteSecret->fontMetrics().horizontalAdvance(QString(34, u'N')) +
        TextRemoteSecret->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) * 6);
    CommandNewSecret =
        Named(new QPushButton(QStringLiteral("New secret")), "CommandNewSecret", 1376);
    connect(CommandNewSecret, &QPushButton::clicked, this, &Options::CommandNewSecret_Click);
    CheckListenAll =
        Check("CheckListenAll", "Listen on all addresses, not only on this computer", 1377);
    TextCertificate = Named(new QLineEdit, "TextCertificate", 0);
    TextPrivateKey = Named(new QLineEdit, "TextPrivateKey", 0);
    auto* browseCertificate =
        Named(new QPushButton(QStringLiteral("Browse...")), "CommandCertificate", 788);
    auto* browseKey = Named(new QPushButton(QStringLiteral("Browse...")), "CommandPrivateKey", 788);
    connect(browseCertificate, &QPushButton::clicked, this,
            [this] { chooseRemoteFile(TextCertificate, 1384); });
    connect(browseKey, &QPushButton::clicked, this,
            [this] { chooseRemoteFile(TextPrivateKey, 1385); });
    for (QPushButton* button : {CommandNewSecret, browseCertificate, browseKey}) {
        button->setAutoDefault(false);
    }
    // Filled in by showRemoteAddress: the text holds the address.
    LabelRemoteAddress = Label("LabelRemoteAddress", "", 0);
    LabelRemoteAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLineEdit* edit : {TextRemotePort, TextCertificate, TextPrivateKey}) {
        connect(edit, &QLineEdit::textChanged, this, &Options::showRemoteAddress);
    }

    auto* grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));
    grid->addWidget(CheckRemote, 0, 0, 1, 4);
    const struct {
        const char* name;
        const char* caption;
        int tag;
        QWidget* edit;
        QWidget* button;
    } lines[] = {
        {"LabelRemotePort", "Port :", 1374, TextRemotePort, nullptr},
        {"LabelRemoteSecret", "Secret :", 1375, TextRemoteSecret, CommandNewSecret},
        {"LabelCertificate", "Certificate file (PEM) :", 1378, TextCertificate, browseCertificate},
        {"LabelPrivateKey", "Private key file (PEM) :", 1379, TextPrivateKey, browseKey},
    };
    remoteControls_ = {CheckListenAll, LabelRemoteAddress};
    int row = 1;
    for (const auto& line : lines) {
        if (row == 3) {
            grid->addWidget(CheckListenAll, row++, 1, 1, 3);
        }
        QLabel* label = Label(line.name, line.caption, line.tag);
        label->setBuddy(line.edit);
        grid->addWidget(label, row, 1);
        grid->addWidget(line.edit, row, 2);
        remoteControls_ << label << line.edit;
        if (line.button != nullptr) {
            grid->addWidget(line.button, row, 3);
            remoteControls_ << line.button;
        }
        ++row;
    }
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    grid->addWidget(LabelRemoteAddress, row, 1, 1, 3);
    grid->setColumnStretch(2, 1);
    return Page(Frame("Frame7", "Remote control", 1372, grid));
}
