#include "engine/http/whole_answer.h"

#include <gtest/gtest.h>

#include <QList>
#include <QStringList>

#include "tests/support/text_printer.h"

namespace {

using State = WholeAnswerReader::State;

struct AnswerCase {
    const char* name;
    QByteArray bytes;
    bool closeAfter;  // the server closes once all bytes are sent
    bool cleanClose;
    State state;
    int status;
    QByteArray body;
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.name;
}

const QByteArray Huge(70000, 'h');

// Feeds `pieces` one after the other, then the close when the case has one.
State Read(const AnswerCase& c, const QList<QByteArray>& pieces, WholeAnswerReader& reader) {
    for (const QByteArray& piece : pieces) {
        reader.feed(piece);
    }
    if (c.closeAfter) {
        reader.closed(c.cleanClose);
    }
    return reader.state();
}

void Expect(const AnswerCase& c, const WholeAnswerReader& reader, const std::string& how) {
    EXPECT_EQ(reader.state(), c.state) << how << ": " << reader.problem().toStdString();
    if (c.state == State::Done) {
        EXPECT_EQ(reader.status(), c.status) << how;
        EXPECT_EQ(reader.body(), c.body) << how;
    } else if (c.state == State::Failed) {
        EXPECT_FALSE(reader.problem().isEmpty()) << how;
        EXPECT_TRUE(reader.body().isEmpty()) << how;
    }
}

class WholeAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(WholeAnswerTest, SameVerdictHoweverTheBytesArrive) {
    const AnswerCase& c = GetParam();
    {
        WholeAnswerReader reader;
        Read(c, {c.bytes}, reader);
        Expect(c, reader, "in one piece");
    }
    // Two pieces cut anywhere, and a byte at a time, for the short answers.
    if (c.bytes.size() < 400) {
        for (qsizetype cut = 1; cut < c.bytes.size(); ++cut) {
            WholeAnswerReader reader;
            Read(c, {c.bytes.left(cut), c.bytes.mid(cut)}, reader);
            Expect(c, reader, "cut at " + std::to_string(cut));
        }
        QList<QByteArray> bytes;
        for (const char b : c.bytes) {
            bytes << QByteArray(1, b);
        }
        WholeAnswerReader reader;
        Read(c, bytes, reader);
        Expect(c, reader, "a byte at a time");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WholeAnswerTest,
    ::testing::Values(
        AnswerCase{"sized", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n1.5\r\nnotes", false,
                   true, State::Done, 200, "1.5\r\nnotes"},
        AnswerCase{"not_found_page", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\n404",
                   false, true, State::Done, 404, "404"},
        AnswerCase{"ended_by_the_close", "HTTP/1.1 200 OK\r\n\r\n1.5\r\nall of it", true, true,
                   State::Done, 200, "1.5\r\nall of it"},
        AnswerCase{"not_ended_yet", "HTTP/1.1 200 OK\r\n\r\n1.5\r\n", false, true, State::NeedMore,
                   0, ""},
        AnswerCase{"chunked",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n1.5\r\n"
                   "7;x=y\r\n\r\nnotes\r\n0\r\n\r\n",
                   false, true, State::Done, 200, "1.5\r\nnotes"},
        AnswerCase{"lf_only_head", "HTTP/1.1 200 OK\nContent-Length: 3\n\n1.5", false, true,
                   State::Done, 200, "1.5"},
        AnswerCase{"bytes_after_the_length", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n2junk",
                   false, true, State::Done, 200, "2"},
        AnswerCase{"empty_body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, true,
                   State::Done, 200, ""},
        AnswerCase{"closed_inside_the_body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n1.5",
                   true, true, State::Failed, 0, ""},
        AnswerCase{"closed_inside_the_chunks",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n1.5\r\n", true, true,
                   State::Failed, 0, ""},
        AnswerCase{"closed_inside_the_head", "HTTP/1.1 200 OK\r\nContent-Le", true, true,
                   State::Failed, 0, ""},
        AnswerCase{"closed_without_a_word", "", true, true, State::Failed, 0, ""},
        AnswerCase{"tls_cut_without_close_notify", "HTTP/1.1 200 OK\r\n\r\n1.5", true, false,
                   State::Failed, 0, ""},
        AnswerCase{"not_http", "1.5\r\nnotes\r\n\r\n", false, true, State::Failed, 0, ""},
        AnswerCase{"damaged_chunks",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n1.5\r\n", false,
                   true, State::Failed, 0, ""},
        AnswerCase{"announced_over_64_KiB", "HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n",
                   false, true, State::Failed, 0, ""},
        AnswerCase{"unsized_over_64_KiB", "HTTP/1.1 200 OK\r\n\r\n" + Huge, false, true,
                   State::Failed, 0, ""},
        AnswerCase{"chunks_over_64_KiB",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n11170\r\n" + Huge +
                       "\r\n0\r\n\r\n",
                   false, true, State::Failed, 0, ""},
        AnswerCase{"head_over_64_KiB", "HTTP/1.1 200 OK\r\nX-Filler: " + Huge, false, true,
                   State::Failed, 0, ""}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST(WholeAnswerReader, NothingCountsAfterTheVerdict) {
    WholeAnswerReader reader;
    EXPECT_EQ(reader.feed("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n2"), State::Done);
    EXPECT_EQ(reader.feed("more"), State::Done);
    EXPECT_EQ(reader.closed(false), State::Done);
    EXPECT_EQ(reader.body(), "2");
}

}  // namespace
