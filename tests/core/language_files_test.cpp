// Checks the language files shipped in data/lang: both parse cleanly, define the same
// numbers, name their languages and keep the size units after the "LANG=" line.
// The files are read here with a parser of the test's own, so the check does not lean
// on the loader it is meant to feed.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text/text_table.h"

namespace {

struct LanguageFile {
    bool readable = false;
    std::string langName;                // text after "LANG=", empty when absent
    int langLine = 0;                    // 1-based line of the "LANG=" line, 0 when absent
    std::map<int, std::string> texts;    // entries as loading leaves them (later lines win)
    std::vector<int> numbers;            // every number defined by an "N=text" line, in order
    std::vector<std::string> malformed;  // lines that fit none of the allowed forms
};

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool AllDigits(const std::string& s) {
    if (s.empty()) {
        return false;
    }
    for (const unsigned char c : s) {
        if (!std::isdigit(c)) {
            return false;
        }
    }
    return true;
}

LanguageFile ReadLanguageFile(const std::string& name) {
    LanguageFile result;
    std::ifstream in(std::string(BRENLOFT_SOURCE_DIR) + "/data/lang/" + name, std::ios::binary);
    if (!in) {
        return result;
    }
    result.readable = true;
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        const std::string line = Trim(raw);  // also drops the CR of a CR LF ending
        if (line.empty() || line.rfind("//", 0) == 0 || line.rfind(";", 0) == 0) {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            result.malformed.push_back(std::to_string(lineNo) + ": " + line);
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string text = line.substr(eq + 1);
        if (key == "LANG") {
            // The loader reads this key as 0, so it sets entry 0 too.
            result.langName = Trim(text);
            result.langLine = lineNo;
            result.texts[0] = text;
            continue;
        }
        if (!AllDigits(key) || key.size() > 4) {
            result.malformed.push_back(std::to_string(lineNo) + ": " + line);
            continue;
        }
        const int number = std::stoi(key);
        result.numbers.push_back(number);
        result.texts[number] = text;
    }
    return result;
}

std::set<int> DefinedNumbers(const LanguageFile& file) {
    return {file.numbers.begin(), file.numbers.end()};
}

class LanguageFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        english_ = ReadLanguageFile("english.txt");
        french_ = ReadLanguageFile("francais.txt");
        ASSERT_TRUE(english_.readable) << "data/lang/english.txt cannot be read";
        ASSERT_TRUE(french_.readable) << "data/lang/francais.txt cannot be read";
    }

    LanguageFile english_;
    LanguageFile french_;
};

void ExpectWellFormed(const LanguageFile& file, const char* name) {
    for (const auto& line : file.malformed) {
        ADD_FAILURE() << name << " line " << line;
    }
    std::set<int> seen;
    for (const int number : file.numbers) {
        EXPECT_GE(number, 0) << name;
        EXPECT_LT(number, TextTable::Size) << name;
        EXPECT_TRUE(seen.insert(number).second) << name << " defines " << number << " twice";
    }
    for (const auto& [number, text] : file.texts) {
        EXPECT_FALSE(Trim(text).empty()) << name << " entry " << number << " is empty";
    }
}

TEST_F(LanguageFilesTest, EveryLineIsCommentLanguageNameOrNumberedText) {
    ExpectWellFormed(english_, "english.txt");
    ExpectWellFormed(french_, "francais.txt");
}

TEST_F(LanguageFilesTest, LanguageNamesComeFirst) {
    EXPECT_EQ(english_.langName, "English");
    EXPECT_EQ(english_.langLine, 1);
    EXPECT_EQ(french_.langName,
              "Fran\xC3\xA7"
              "ais");  // UTF-8
    EXPECT_EQ(french_.langLine, 1);
}

TEST_F(LanguageFilesTest, BothFilesDefineTheSameNumbers) {
    const std::set<int> english = DefinedNumbers(english_);
    const std::set<int> french = DefinedNumbers(french_);
    ASSERT_FALSE(english.empty());
    for (const int number : english) {
        EXPECT_TRUE(french.count(number)) << "francais.txt lacks " << number;
    }
    for (const int number : french) {
        EXPECT_TRUE(english.count(number)) << "english.txt lacks " << number;
    }
}

TEST_F(LanguageFilesTest, SizeUnitsSurviveTheLanguageLine) {
    EXPECT_EQ(english_.texts[0], "bytes");
    EXPECT_EQ(english_.texts[1], "KB");
    EXPECT_EQ(english_.texts[2], "MB");
    EXPECT_EQ(english_.texts[3], "GB");
    EXPECT_EQ(french_.texts[0], "octets");
    EXPECT_EQ(french_.texts[1], "Ko");
    EXPECT_EQ(french_.texts[2], "Mo");
    EXPECT_EQ(french_.texts[3], "Go");
}

}  // namespace
