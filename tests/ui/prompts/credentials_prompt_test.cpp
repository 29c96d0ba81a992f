#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "tests/ui/prompts/prompt_test_support.h"
#include "ui/language/apply_language.h"
#include "ui/prompts/credentials_prompt.h"

namespace {

const QString Url = QStringLiteral("http://files.example/private/a.zip");

template <typename W>
W* Control(QDialog* dialog, const char* name) {
    W* w = dialog->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class CredentialsPromptTest : public ::testing::Test {
protected:
    void SetUp() override {
        prompt.SetInfo(Url, QStringLiteral("joe"), QStringLiteral("old"));
        prompt.show();
    }
    QLineEdit* userBox() { return Control<QLineEdit>(&prompt, "Text1"); }
    QLineEdit* passBox() { return Control<QLineEdit>(&prompt, "Text2"); }
    void click(const char* name) { Control<QAbstractButton>(&prompt, name)->click(); }

    TextTable texts = NumberedTable();
    CredentialsPrompt prompt{texts};
};

}  // namespace

TEST_F(CredentialsPromptTest, NamedControlsCarryTheirEntriesAndTheInfo) {
    EXPECT_EQ(prompt.objectName(), QStringLiteral("Authen"));
    EXPECT_EQ(prompt.windowTitle(), Entry(806));
    EXPECT_EQ(TagNumber(prompt.property(TagProperty)), 806);
    EXPECT_EQ(Control<QLabel>(&prompt, "Label1")->text(), Entry(807));
    EXPECT_EQ(Control<QLabel>(&prompt, "Label2")->text(), Entry(808));
    EXPECT_EQ(Control<QLabel>(&prompt, "Label3")->text(), Entry(809));
    EXPECT_EQ(Control<QLabel>(&prompt, "Label4")->text(), Url);
    EXPECT_EQ(Control<QCheckBox>(&prompt, "Check1")->text(), Entry(810));
    EXPECT_EQ(Control<QPushButton>(&prompt, "Command1")->text(), Entry(811));
    EXPECT_EQ(Control<QPushButton>(&prompt, "Command2")->text(), Entry(812));
    EXPECT_EQ(userBox()->text(), QStringLiteral("joe"));
    EXPECT_EQ(passBox()->text(), QStringLiteral("old"));
    EXPECT_EQ(passBox()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(prompt.Answer(), QString());
    EXPECT_EQ(prompt.user(), QString());
    EXPECT_FALSE(prompt.KeepPass());
}

TEST_F(CredentialsPromptTest, ContinueHandsOverTheLoginAndTheKeepChoice) {
    passBox()->setText(QStringLiteral("new"));
    Control<QCheckBox>(&prompt, "Check1")->click();
    click("Command1");
    EXPECT_EQ(prompt.Answer(), QStringLiteral("OK"));
    EXPECT_EQ(prompt.user(), QStringLiteral("joe"));
    EXPECT_EQ(prompt.pass(), QStringLiteral("new"));
    EXPECT_TRUE(prompt.KeepPass());
    EXPECT_FALSE(prompt.isVisible());
}

TEST_F(CredentialsPromptTest, AUserNameWithoutPasswordIsAccepted) {
    passBox()->clear();
    click("Command1");
    EXPECT_EQ(prompt.Answer(), QStringLiteral("OK"));
    EXPECT_EQ(prompt.user(), QStringLiteral("joe"));
    EXPECT_EQ(prompt.pass(), QString());
}

TEST_F(CredentialsPromptTest, BothEmptyIsRefusedWithAMessageAndThePromptStays) {
    userBox()->clear();
    passBox()->clear();
    click("Command1");
    EXPECT_EQ(prompt.Answer(), QString());
    EXPECT_TRUE(prompt.isVisible());
    const QList<QMessageBox*> boxes = ShownWindows<QMessageBox>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->windowTitle(), QStringLiteral("Brenloft"));
    EXPECT_EQ(boxes[0]->text(), QStringLiteral("Please enter a non-empty user name and password"));
    EXPECT_EQ(boxes[0]->buttons().size(), 1);
    boxes[0]->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(WaitUntilNoneLeft<QMessageBox>());

    QTest::keyClicks(passBox(), QStringLiteral("only a password"));
    click("Command1");
    EXPECT_EQ(prompt.Answer(), QStringLiteral("OK"));
    EXPECT_EQ(prompt.pass(), QStringLiteral("only a password"));
}

TEST_F(CredentialsPromptTest, CancelAndEveryOtherCloseAnswerCancel) {
    click("Command2");
    EXPECT_EQ(prompt.Answer(), QStringLiteral("Cancel"));
    EXPECT_EQ(prompt.user(), QString());
    EXPECT_EQ(prompt.pass(), QString());
    EXPECT_FALSE(prompt.isVisible());

    CredentialsPrompt closed(texts);
    closed.SetInfo(Url, QStringLiteral("joe"), QStringLiteral("pw"));
    closed.show();
    closed.close();
    EXPECT_EQ(closed.Answer(), QStringLiteral("Cancel"));
    EXPECT_EQ(closed.user(), QString());

    CredentialsPrompt escaped(texts);
    escaped.show();
    QTest::keyClick(&escaped, Qt::Key_Escape);
    EXPECT_EQ(escaped.Answer(), QStringLiteral("Cancel"));
}
