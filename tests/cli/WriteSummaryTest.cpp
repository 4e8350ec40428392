#include "cli/WriteSummary.h"

#include "cli/JsonValue.h"

#include <gtest/gtest.h>

#include <vector>

TEST(WriteSummary, JsonStringEscapesWhateverTheBytesHold) {
    struct Case {
        std::string bytes, json;
    };
    const Case cases[] = {
        {"plain.mot", "\"plain.mot\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"t\tn\nr\r\x01\x1f\x7f", "\"t\\tn\\nr\\r\\u0001\\u001f\\u007f\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},  // kept
        {"bad\xFF\xC3", "\"bad\\ufffd\\ufffd\""},                  // stray byte, cut sequence
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                        // overlong '/'
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},             // a surrogate
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
    };
    for (const Case& c : cases) EXPECT_EQ(JsonString(c.bytes), c.json) << c.json;
}

TEST(WriteSummary, JsonHoldsEveryFieldWithNullsForWhatWasNotMeasured) {
    WriteSummary s;
    s.file = "fw.mot";
    s.port = "/dev/ttyUSB0";
    s.end = WriteEnd::Interrupted;
    s.message = "rssponse OK";
    s.exitStatus = 130;
    s.imageBytes = 1000;
    s.blocksSent = 4;
    s.bitRate = 38400;
    s.elapsedSeconds = 2;
    s.board = BoardState::BootModePartial;
    s.programmedTo = 512;
    EXPECT_EQ(SummaryJson(s),
              "{\"file\":\"fw.mot\",\"port\":\"/dev/ttyUSB0\",\"outcome\":\"interrupted\",\"stage\":null,"
              "\"message\":\"rssponse OK\",\"exit\":130,\"image_bytes\":1000,\"blocks_sent\":4,"
              "\"blocks_skipped\":null,\"bit_rate\":38400,\"elapsed_s\":2.000,\"bytes_per_s\":256,"
              "\"verify\":null,\"board\":\"boot-mode-partial\",\"programmed_to\":512}");

    s.verify = VerifySummary{"read", false, "verify error at 0x00000100", 4096, {}, {}, 0x100, 0x12, 0x13};
    EXPECT_NE(SummaryJson(s).find("\"verify\":{\"mode\":\"read\",\"ok\":false,\"message\":\"verify error at "
                                  "0x00000100\",\"bytes_compared\":4096,\"expected_sum\":null,\"actual_sum\":null,"
                                  "\"address\":256,\"expected\":18,\"actual\":19}"),
              std::string::npos)
        << SummaryJson(s);
    EXPECT_EQ(SummaryJsonArray({}), "[]");
    EXPECT_EQ(SummaryJsonArray({s, s}), "[\n" + SummaryJson(s) + ",\n" + SummaryJson(s) + "\n]");
}

TEST(WriteSummary, LineShowsTheFiguresAndWhatTheBoardWasLeftWith) {
    WriteSummary done;
    done.end = WriteEnd::Done;
    done.imageBytes = 4096;
    done.blocksSent = 32;
    done.bitRate = 38400;
    done.elapsedSeconds = 2;
    done.board = BoardState::RunningNewProgram;
    EXPECT_EQ(SummaryLine(done), "summary: 4096 bytes, 32 blocks sent, 38400 bit/s, 2.00 s, 2.0 KiB/s");

    WriteSummary verified = done;
    verified.blocksSkipped = 3;
    verified.verify = VerifySummary{"sum", true, "verify OK", {}, 0x1234, 0x1234, {}, {}, {}};
    EXPECT_EQ(SummaryLine(verified),
              "summary: 4096 bytes, 32 blocks sent, 3 skipped, 38400 bit/s, 2.00 s, 2.0 KiB/s, "
              "verify OK (sum, sum 0x00001234)");
    verified.end = WriteEnd::VerifyFailed;
    verified.verify = VerifySummary{"read", false, "", 4096, {}, {}, 0x100, 0xAA, 0xAB};
    EXPECT_NE(
        SummaryLine(verified).find("verify FAILED (read, at 0x00000100: expected 0xAA, read 0xAB), verify-failed"),
        std::string::npos)
        << SummaryLine(verified);

    WriteSummary stopped = done;
    stopped.end = WriteEnd::Interrupted;
    stopped.blocksSent = 4;
    stopped.board = BoardState::BootModePartial;
    stopped.programmedTo = 512;
    EXPECT_EQ(SummaryLine(stopped),
              "summary: 4096 bytes, 4 blocks sent, 38400 bit/s, 2.00 s, 256 B/s, interrupted; board: in boot mode, "
              "holding a partial image up to address 0x00000200; the next write recovers it ('h8sxwriter reset' only "
              "leaves boot mode)");

    WriteSummary failed;
    failed.end = WriteEnd::TargetFailed;
    failed.stage = 1;
    failed.imageBytes = 64;
    failed.board = BoardState::BootModeKept;
    failed.elapsedSeconds = 0.5;
    EXPECT_EQ(SummaryLine(failed),
              "summary: 64 bytes, 0 blocks sent, 0.50 s, target-failed at stage 1; board: in boot mode, its flash not "
              "erased; the next write or 'h8sxwriter reset' recovers it");
}

TEST(WriteSummary, ReadsBackWhatItWrites) {
    WriteSummary s;
    s.file = "we\"ird\n\xC3\xA9.mot";
    s.port = "sim2";
    s.end = WriteEnd::VerifyFailed;
    s.stage = 14;
    s.message = "verify error";
    s.exitStatus = 1;
    s.imageBytes = 4096;
    s.blocksSent = 30;
    s.blocksSkipped = 2;
    s.bitRate = 115200;
    s.elapsedSeconds = 1.25;
    s.verify = VerifySummary{"read", false, "differs", 4224, {}, {}, 0x100, 0x12, 0x13};
    s.board = BoardState::RunningNewProgram;
    s.programmedTo = 4096;
    WriteSummary back;
    ASSERT_TRUE(SummaryFromJson(SummaryJson(s), &back));
    EXPECT_EQ(SummaryJson(back), SummaryJson(s));

    for (const char* bad :
         {"", "[]", "{\"outcome\":\"done\"}", "{\"outcome\":\"fine\",\"board\":\"unknown\",\"exit\":0}",
          "{\"outcome\":\"done\",\"board\":\"unknown\",\"exit\":0"})
        EXPECT_FALSE(SummaryFromJson(bad, &back)) << bad;
}

TEST(JsonValue, ParsesValuesAndRefusesWhatIsNotJson) {
    JsonValue v;
    ASSERT_TRUE(ParseJson(" {\"a\":[1,-2.5e1,true,null,\"x\\u00e9\\ud83d\\ude00\\/\"],\"b\":{}} ", &v));
    const JsonValue* a = v.Get("a");
    ASSERT_TRUE(a && a->array.size() == 5);
    EXPECT_EQ(a->array[0].number, 1);
    EXPECT_EQ(a->array[1].number, -25);
    EXPECT_TRUE(a->array[2].boolean);
    EXPECT_TRUE(a->array[3].IsNull());
    EXPECT_EQ(a->array[4].string, "x\xC3\xA9\xF0\x9F\x98\x80/");
    EXPECT_EQ(v.Get("b")->type, JsonValue::Type::Object);
    ASSERT_TRUE(ParseJson("\"\\ud800x\"", &v));  // a lone surrogate
    EXPECT_EQ(v.string, "\xEF\xBF\xBDx");

    const std::string deep = std::string(40, '[') + std::string(40, ']');
    for (const std::string& bad :
         std::vector<std::string>{"", "{", "[1,]", "{\"a\" 1}", "01", "1.", "-", "tru", "\"a\nb\"", "\"\\x\"",
                                  "\"\\u12\"", "1 2", "{\"a\":1,}", deep})
        EXPECT_FALSE(ParseJson(bad, &v)) << bad;
}
