// json_test.cpp - qiv's JSON is valid UTF-8 whatever the names, and a name that is not UTF-8 is also given exactly
#include "qiv/json.hpp"

#include <gtest/gtest.h>

namespace {

TEST(QivJson, StringsAreValidUtf8AndNamesThatAreNotAreAlsoGivenAsHex) {
    struct Row {
        std::string text;
        std::string json;  // json_string(text)
        bool utf8;
    };
    const Row rows[] = {
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x92\xbf", "\"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x92\xbf\"", true},
        {"bad\xff.qiv", "\"bad\xef\xbf\xbd.qiv\"", false},
        {"cut\xc3", "\"cut\xef\xbf\xbd\"", false},                       // a sequence cut short at the end
        {"\x80x", "\"\xef\xbf\xbdx\"", false},                           // a continuation byte alone
        {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\"", false},             // an overlong "/"
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"", false},  // a surrogate
        {"\xf4\x90\x80\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"", false},  // past U+10FFFF
        {"\xe2\x82x", "\"\xef\xbf\xbd\xef\xbf\xbdx\"", false},           // a continuation missing
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        EXPECT_EQ(qiv::json_string(row.text), row.json);
        EXPECT_EQ(qiv::is_utf8(row.text), row.utf8);
    }
    EXPECT_EQ(qiv::JsonObject().add_name("file", "ok.qiv").text(), "{\"file\": \"ok.qiv\"}");
    EXPECT_EQ(qiv::JsonObject().add_name("file", "b\xff.qiv").text(),
              "{\"file\": \"b\xef\xbf\xbd.qiv\", \"file_hex\": \"62ff2e716976\"}");
}

}  // namespace
