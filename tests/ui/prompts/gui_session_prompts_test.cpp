#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <optional>
#include <vector>

#include "tests/ui/prompts/prompt_test_support.h"
#include "ui/prompts/credentials_prompt.h"
#include "ui/prompts/gui_session_prompts.h"

namespace {

using Credentials = SessionPrompts::Credentials;

QMessageBox* OnlyMessageBox() {
    const QList<QMessageBox*> boxes = ShownWindows<QMessageBox>();
    EXPECT_EQ(boxes.size(), 1);
    return boxes.size() == 1 ? boxes[0] : nullptr;
}

QList<CredentialsPrompt*> CredentialWindows() {
    return ShownWindows<CredentialsPrompt>();
}

template <typename W>
W* Control(QDialog* dialog, const char* name) {
    W* w = dialog->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class GuiSessionPromptsTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(WaitUntilNoneLeft<QMessageBox>());
        EXPECT_TRUE(WaitUntilNoneLeft<CredentialsPrompt>());
    }

    TextTable texts = NumberedTable();
    GuiSessionPrompts prompts{texts};
};

}  // namespace

TEST_F(GuiSessionPromptsTest, MessagesShowWithoutBlockingUnderTheProgramsTitle) {
    const std::vector<std::pair<SessionPrompts::Icon, QMessageBox::Icon>> kinds = {
        {SessionPrompts::Icon::Information, QMessageBox::Information},
        {SessionPrompts::Icon::Warning, QMessageBox::Warning},
        {SessionPrompts::Icon::Critical, QMessageBox::Critical},
        {SessionPrompts::Icon::Question, QMessageBox::Question},
    };
    // A server's reason that looks like markup shows as written, never as a link or a picture.
    const QString reason = QStringLiteral("Gone: <a href=\"x\">click</a><img src=\"/etc/x.png\">");
    for (const auto& [kind, icon] : kinds) {
        prompts.showMessage(reason, kind);
        QMessageBox* box = OnlyMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isModal());
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Brenloft"));
        EXPECT_EQ(box->text(), reason);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), icon);
        box->button(QMessageBox::Ok)->click();
        EXPECT_TRUE(WaitUntilNoneLeft<QMessageBox>());
    }

    // A reason holding twenty glued addresses: cut in the middle, the whole text under the
    // details.
    const QString glued = QStringLiteral("The file /") +
                          QStringLiteral("a.zip%0Ahttp://files.example/").repeated(20) +
                          QStringLiteral("z.zip was not found");
    // Told again while the first is still open (a batch meeting one fault): one window.
    prompts.showMessage(glued, SessionPrompts::Icon::Critical);
    prompts.showMessage(glued, SessionPrompts::Icon::Critical);
    QMessageBox* box = OnlyMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(glued.left(45))) << box->text().toStdString();
    EXPECT_TRUE(box->text().endsWith(glued.right(30))) << box->text().toStdString();
    EXPECT_LT(box->text().size(), 130);
    EXPECT_EQ(box->detailedText(), glued);
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(WaitUntilNoneLeft<QMessageBox>());
}

// Enter presses the preferred button: No where a hasty Enter must not trust anything.
TEST_F(GuiSessionPromptsTest, YesNoAnswersOnceAfterTheWindowCloses) {
    using Preferred = SessionPrompts::Preferred;
    const auto enter = [](QMessageBox* b) { b->defaultButton()->click(); };
    struct Case {
        const char* how;
        Preferred preferred;
        std::function<void(QMessageBox*)> act;
        bool yes;
    };
    const std::vector<Case> cases = {
        {"Yes", Preferred::Yes, [](QMessageBox* b) { b->button(QMessageBox::Yes)->click(); }, true},
        {"No", Preferred::Yes, [](QMessageBox* b) { b->button(QMessageBox::No)->click(); }, false},
        {"title bar", Preferred::Yes, [](QMessageBox* b) { b->close(); }, false},
        {"Enter", Preferred::Yes, enter, true},
        {"Enter where No is preferred", Preferred::No, enter, false},
    };
    for (const Case& c : cases) {
        std::vector<bool> answers;
        prompts.askYesNo(
            QStringLiteral("Open it in the browser?"),
            [&answers](bool yes) { answers.push_back(yes); }, c.preferred);
        EXPECT_TRUE(answers.empty()) << "asking must not wait for the answer";
        QMessageBox* box = OnlyMessageBox();
        ASSERT_NE(box, nullptr) << c.how;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Brenloft"));
        EXPECT_EQ(box->text(), QStringLiteral("Open it in the browser?"));
        c.act(box);
        EXPECT_TRUE(WaitUntilNoneLeft<QMessageBox>()) << c.how;
        EXPECT_EQ(answers, std::vector<bool>{c.yes}) << c.how;
    }
}

TEST_F(GuiSessionPromptsTest, CredentialsComeBackFromTheAuthenWindow) {
    std::vector<Credentials> answers;
    prompts.askCredentials(QStringLiteral("Bad username/password !"),
                           QStringLiteral("http://files.example/a.zip"), QStringLiteral("joe"),
                           QStringLiteral("old"),
                           [&answers](const Credentials& c) { answers.push_back(c); });
    EXPECT_TRUE(answers.empty());
    ASSERT_EQ(CredentialWindows().size(), 1);
    CredentialsPrompt* window = CredentialWindows()[0];
    EXPECT_EQ(window->objectName(), QStringLiteral("Authen"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Bad username/password !"));
    EXPECT_EQ(Control<QLabel>(window, "Label4")->text(),
              QStringLiteral("http://files.example/a.zip"));
    EXPECT_EQ(Control<QLineEdit>(window, "Text1")->text(), QStringLiteral("joe"));
    EXPECT_EQ(Control<QLineEdit>(window, "Text2")->text(), QStringLiteral("old"));
    Control<QLineEdit>(window, "Text2")->setText(QStringLiteral("new"));
    Control<QCheckBox>(window, "Check1")->click();
    Control<QPushButton>(window, "Command1")->click();
    ASSERT_TRUE(WaitUntilNoneLeft<CredentialsPrompt>());
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers[0].ok);
    EXPECT_EQ(answers[0].user, QStringLiteral("joe"));
    EXPECT_EQ(answers[0].password, QStringLiteral("new"));
    EXPECT_TRUE(answers[0].keepPassword);
}

TEST_F(GuiSessionPromptsTest, TwoDownloadsAskingAtOnceGetTheirOwnAnswers) {
    std::optional<Credentials> first;
    std::optional<Credentials> second;
    int calls = 0;
    prompts.askCredentials(QString(), QStringLiteral("http://one.example/a"), QString(), QString(),
                           [&](const Credentials& c) {
                               first = c;
                               ++calls;
                           });
    prompts.askCredentials(QString(), QStringLiteral("http://two.example/b"), QString(), QString(),
                           [&](const Credentials& c) {
                               second = c;
                               ++calls;
                           });
    ASSERT_EQ(CredentialWindows().size(), 2);
    for (CredentialsPrompt* window : CredentialWindows()) {
        // Without a caption of the caller's the window keeps its own.
        EXPECT_EQ(window->windowTitle(), Entry(806));
        if (Control<QLabel>(window, "Label4")->text().contains(u"two")) {
            Control<QLineEdit>(window, "Text1")->setText(QStringLiteral("ann"));
            Control<QPushButton>(window, "Command1")->click();
        }
    }
    ASSERT_EQ(CredentialWindows().size(), 1);
    CredentialWindows()[0]->close();
    ASSERT_TRUE(WaitUntilNoneLeft<CredentialsPrompt>());
    EXPECT_EQ(calls, 2);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->ok);
    EXPECT_TRUE(second->ok);
    EXPECT_EQ(second->user, QStringLiteral("ann"));
}

TEST(GuiSessionPromptsLifetime, WindowsOpenAtTheEndCloseUnanswered) {
    const TextTable texts = NumberedTable();
    QWidget mainWindow;
    int calls = 0;
    {
        GuiSessionPrompts prompts(texts, &mainWindow);
        prompts.askYesNo(
            QStringLiteral("?"), [&calls](bool) { ++calls; }, SessionPrompts::Preferred::Yes);
        prompts.askCredentials(QString(), QStringLiteral("http://a.example/"), QString(), QString(),
                               [&calls](const Credentials&) { ++calls; });
        ASSERT_EQ(ShownWindows<QMessageBox>().size(), 1);
        ASSERT_EQ(CredentialWindows().size(), 1);
        EXPECT_EQ(CredentialWindows()[0]->parentWidget(), &mainWindow);
    }
    EXPECT_TRUE(ShownWindows<QMessageBox>().isEmpty());
    EXPECT_TRUE(CredentialWindows().isEmpty());
    EXPECT_TRUE(WaitUntilNoneLeft<QDialog>());
    EXPECT_EQ(calls, 0);
}
