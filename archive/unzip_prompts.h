#pragma once

#include <QString>

// The replace question's answers, as the unzip library numbers them.
enum class ReplaceAnswer : int {
    Keep = 100,     // No
    Replace = 102,  // Yes
    KeepAll = 104,  // Cancel: no further file of this extraction is replaced
};

// What an extraction asks the user. The desktop program answers with real windows, tests
// with a script. Both calls block the extraction until answered.
class UnzipPrompts {
public:
    virtual ~UnzipPrompts() = default;
    // The password for an encrypted member; an empty answer cancels, which skips this member
    // and every later encrypted one of the same extraction without asking again.
    virtual QString password(const QString& memberName) = 0;
    // Whether the existing file `path` is replaced by the member of the same name.
    virtual ReplaceAnswer replace(const QString& path) = 0;
};

// The replace question over one extraction: once answered Cancel ("keep all"), every later
// existing file is kept without asking.
class ReplaceQuestions {
public:
    explicit ReplaceQuestions(UnzipPrompts& prompts) : prompts_(prompts) {}
    // Whether the existing file `path` gives way.
    bool replace(const QString& path) {
        if (keepAll_) {
            return false;
        }
        switch (prompts_.replace(path)) {
            case ReplaceAnswer::Replace:
                return true;
            case ReplaceAnswer::KeepAll:
                keepAll_ = true;
                return false;
            case ReplaceAnswer::Keep:
                return false;
        }
        return false;
    }
    void reset() { keepAll_ = false; }

private:
    UnzipPrompts& prompts_;
    bool keepAll_ = false;
};

// The texts the windows show for these questions.
inline constexpr const char* kPasswordPromptText = "Please Enter The Password!";
inline constexpr const char* kReplaceQuestionTitle = "VBUnZip32 - File Already Exists!";
inline QString ReplaceQuestionText(const QString& path) {
    return QStringLiteral("Overwrite ") + path + QLatin1Char('?');
}
