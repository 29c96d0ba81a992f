#include <gtest/gtest.h>

#include "core/download_list/list_additions.h"

// The look-up compares ASCII letter by letter and leaves the rest to toUpper; addresses keep
// every byte but control characters, so the rest does occur.

namespace {

DownloadListState ListOfUrls(std::initializer_list<const char16_t*> urls) {
    DownloadListState list;
    for (const char16_t* url : urls) {
        DownloadRecord r;
        r.Url = QString::fromUtf16(url);
        r.Active = FlagTrue;
        list.DownloadList.append(r);
    }
    list.DownloadCount = static_cast<std::int16_t>(urls.size());
    return list;
}

int Find(const DownloadListState& list, const char16_t* url) {
    return FindActiveDuplicate(list, QString::fromUtf16(url));
}

}  // namespace

TEST(DuplicateLookUp, LettersBeyondAsciiCompareUpperCasedLikeTheRest) {
    const DownloadListState list = ListOfUrls({u"http://h/a", u"http://h/stra\u00dfe.zip",
                                               u"http://h/\u00e9t\u00e9.zip", u"http://h/ab"});
    // "ß" upper-cases to "SS": the texts differ in length and still match.
    EXPECT_EQ(Find(list, u"HTTP://H/STRASSE.ZIP"), 2);
    EXPECT_EQ(Find(list, u"http://h/strasse.zip"), 2);
    EXPECT_EQ(Find(list, u"http://h/stra\u1e9ee.zip"), 0);  // capital ẞ stays itself
    EXPECT_EQ(Find(list, u"http://h/\u00c9T\u00c9.ZIP"), 3);
    EXPECT_EQ(Find(list, u"http://h/ete.zip"), 0);
    // An ASCII start that matches is not enough, nor a prefix of the entry.
    EXPECT_EQ(Find(list, u"http://h/a\u00df"), 0);
    EXPECT_EQ(Find(list, u"HTTP://H/AB"), 4);
    EXPECT_EQ(Find(list, u"http://h/"), 0);
}
