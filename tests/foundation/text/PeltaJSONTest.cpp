#include "foundation/text/PeltaJSON.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

TEST(PeltaJSONXMap, OrdersByUtf16CodeUnits)
{
    // U+1F600 is stored as the surrogates D83D DE00, which sort before U+FF61
    // although its code point is higher. Upper case sorts before lower case.
    const XMap map = {{U("\xEF\xBD\xA1"), U("ff61")}, {U("\xF0\x9F\x98\x80"), U("1f600")},
                      {U("b"), U("b")}, {U("B"), U("B")}};
    std::vector<QString> values;
    for (const auto& entry : map)
        values.push_back(entry.second);
    EXPECT_EQ(values, (std::vector<QString>{U("B"), U("b"), U("1f600"), U("ff61")}));
}

TEST(PeltaJSONParse, FlattensOneLevelWithMarkers)
{
    const XMap map =
        PeltaJSON::ParseToMap(U(R"({"a":{"b":1},"c":[1],"d":null,"e":true,"f":false,"g":"text","h":[]})"));
    const XMap expected = {{U("a"), U(":object:")}, {U("c"), U(":array:")}, {U("d"), U("")},
                           {U("e"), U("true")},     {U("f"), U("false")},   {U("g"), U("text")},
                           {U("h"), U(":array:")}};
    EXPECT_EQ(map, expected);
}

TEST(PeltaJSONParse, NumbersKeepTheirText)
{
    for (const char* number : {"1354066853.1234560", "1.0e5", "-0", "12345678901234567890123", "1E-7"}) {
        const XMap map = PeltaJSON::ParseToMap(U(R"({"t":)") + U(number) + U("}"));
        EXPECT_EQ(map.at(U("t")), U(number));
    }
}

TEST(PeltaJSONParse, TextDecoding)
{
    const struct {
        const char* json;
        const char* expected;
    } cases[] = {
        {R"({"msg":"Quota 已滿"})", "Quota 已滿"},                  // raw non-ASCII
        {R"({"msg":"Quota \u5df2\u6eff"})", "Quota 已滿"},          // escaped
        {R"({"msg":"\ud83d\ude00"})", "\xF0\x9F\x98\x80"},          // surrogate pair
        {R"({"msg":"a\"b\\c\/d\n\t"})", "a\"b\\c/d\n\t"},           // simple escapes
    };
    for (const auto& c : cases)
        EXPECT_EQ(PeltaJSON::ParseToMap(U(c.json)).at(U("msg")), U(c.expected)) << c.json;

    // An escaped NUL does not cut the value short.
    EXPECT_EQ(PeltaJSON::ParseToMap(U(R"({"k":"a\u0000b"})")).at(U("k")), QString(U("a")) + QChar(0) + U("b"));
}

TEST(PeltaJSONParse, DuplicateNameKeepsTheLaterValue)
{
    EXPECT_EQ(PeltaJSON::ParseToMap(U(R"({"a":"1","b":"x","a":"2"})")).at(U("a")), U("2"));
}

TEST(PeltaJSONParse, AnythingButAnObjectGivesAnEmptyMap)
{
    for (const char* text : {"", "   ", "not json", "[1,2]", "\"s\"", "12", "null", R"({"a":"1")",
                             R"({"a":"1"} trailing)", R"({"a":01})", R"({"a":"\ud800"})"}) {
        EXPECT_TRUE(PeltaJSON::ParseToMap(U(text)).empty()) << text;
    }
}

TEST(PeltaJSONParse, DeepNestingDoesNotExhaustTheStack)
{
    const int depth = 200000;
    const QString text = U(R"({"a":)") + QString(depth, QLatin1Char('[')) + QString(depth, QLatin1Char(']'))
        + U(R"(,"b":"2"})");
    const XMap expected = {{U("a"), U(":array:")}, {U("b"), U("2")}};
    EXPECT_EQ(PeltaJSON::ParseToMap(text), expected);
}

TEST(PeltaJSONCheckStatus, StatusConvention)
{
    const struct {
        const char* reply;
        bool ok;
        const char* msg;  // the out message afterwards; it starts as "before"
    } cases[] = {
        {"", false, "before"},
        {R"({"status":1})", true, "before"},
        {R"({"status":"1","msg":"ignored"})", true, "before"},
        {R"({"status":"0","msg":"x"})", false, "x"},
        {R"({"status":"0"})", false, ""},
        {R"({"status":1.0})", false, ""},
        {R"({"status":true})", false, ""},
        {R"({"status":" 1"})", false, ""},
        {R"({"msg":"no status"})", false, "no status"},
        {"<html>502 Bad Gateway</html>", false, ""},
        {R"({"status":"0","msg":"Quota 已滿"})", false, "Quota 已滿"},
        {R"({"status":"0","msg":{"text":"x"}})", false, ":object:"},
    };
    for (const auto& c : cases) {
        QString msg = U("before");
        EXPECT_EQ(PeltaJSON::CheckStatus(U(c.reply), msg), c.ok) << c.reply;
        EXPECT_EQ(msg, U(c.msg)) << c.reply;
    }
}

TEST(PeltaJSONSetting, CopiesScalarsAndSkipsObjectsAndArrays)
{
    PeltaSyncAgentSetting setting;
    const QString reply =
        U(R"({"user_sn":"123","user_id":{"y":1},"agent_name":[1],"bw_upload":20,"unknown":"z"})");
    EXPECT_TRUE(PeltaJSON::JsonToSetting(reply, setting));
    EXPECT_EQ(setting.Get(U("user_sn")), U("123"));
    EXPECT_EQ(setting.Get(U("bw_upload")), U("20"));
    EXPECT_EQ(setting.Get(U("user_id")), U(""));
    EXPECT_EQ(setting.Get(U("agent_name")), U(""));

    EXPECT_TRUE(PeltaJSON::JsonToSetting(U("garbage"), setting));
    EXPECT_EQ(setting.Get(U("user_sn")), U("123"));
}

TEST(PeltaJSONWrite, CompactStringPairsInKeyOrder)
{
    const struct {
        XMap map;
        const char* json;
    } cases[] = {
        {{}, "{}"},
        {{{U("upload_type"), U("postFile2")},
          {U("size"), U("12")},
          {U("my_base64_full_path_name"), U("L2EudHh0")},
          {U("local_mtime"), U("100")}},
         R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0","size":"12","upload_type":"postFile2"})"},
        {{{U("k"), U("say \"hi\"\\")}}, R"({"k":"say \"hi\"\\"})"},
        {{{U("k"), U("a\nb\tc\x01")}}, R"({"k":"a\nb\tc\u0001"})"},
        {{{U("k\"ey"), U("")}}, R"({"k\"ey":""})"},
        {{{U("msg"), U("已滿 /")}}, R"({"msg":"已滿 /"})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PeltaJSON::MapToJson(c.map), U(c.json));
}

TEST(PeltaJSONWrite, RoundTripThroughParse)
{
    XMap map = {{U("quote"), U("\"")},       {U("backslash"), U("\\")}, {U("controls"), U("\x01\x1f\n\r\b\f")},
                {U("empty"), U("")},         {U("chinese"), U("已滿")},  {U("emoji"), U("\xF0\x9F\x98\x80")},
                {U("number"), U("1.0e5")},   {U("marker"), U(":object:")}};
    map[U("nul")] = QString(U("a")) + QChar(0) + U("b");
    EXPECT_EQ(PeltaJSON::ParseToMap(PeltaJSON::MapToJson(map)), map);
}

TEST(PeltaJSONFind, FindObjectTakesTheFirstObjectValuedPair)
{
    const JsonValue root = JsonValue::Parse(U(R"({"a":"s","a":{"n":"1"},"b":{"n":"2"},"a":{"n":"3"}})"));
    const struct {
        const char* key;
        XMap expected;
    } cases[] = {
        {"a", {{U("n"), U("1")}}},
        {"b", {{U("n"), U("2")}}},
        {"", {{U("n"), U("1")}}},
        {"missing", {}},
    };
    for (const auto& c : cases) {
        const JsonValue found = PeltaJSON::FindObject(root, U(c.key));
        EXPECT_TRUE(found.IsObject()) << c.key;
        EXPECT_EQ(found.ObjectToMap(), c.expected) << c.key;
    }

    // A scalar value is not an object: the result is a new, empty object.
    EXPECT_TRUE(PeltaJSON::ParseFindObject(U(R"({"a":"s"})"), U("a")).IsObject());
    EXPECT_TRUE(PeltaJSON::ParseFindObject(U("not json"), U("a")).IsObject());
    EXPECT_TRUE(PeltaJSON::ParseFindObject(U("not json"), U("a")).ObjectToMap().empty());
}

TEST(PeltaJSONFind, FindArrayNoneEmptyOrFound)
{
    const QString text = U(R"({"s":"text","o":{},"n":null,"a":[1,"x",true]})");
    const struct {
        const char* key;
        bool none;
        std::size_t size;
    } cases[] = {
        {"s", true, 0}, {"o", true, 0}, {"n", true, 0}, {"absent", false, 0}, {"", false, 0}, {"a", false, 3},
    };
    for (const auto& c : cases) {
        const std::optional<JsonValue> found = PeltaJSON::ParseFindArray(text, U(c.key));
        EXPECT_EQ(!found.has_value(), c.none) << c.key;
        if (found) {
            EXPECT_TRUE(found->IsArray()) << c.key;
            EXPECT_EQ(found->Size(), c.size) << c.key;
        }
    }
}

// A reply that is not a JSON object must not read as "an empty list".
TEST(PeltaJSONFind, FindArrayOfUnparsableTextIsNone)
{
    for (const char* text : {"", "not json", "[1,2]", R"({"files":[)"})
        EXPECT_FALSE(PeltaJSON::ParseFindArray(U(text), U("files")).has_value()) << text;
}

TEST(PeltaJSONFind, WalkArrayOfObjectsAndNestedObjects)
{
    const QString reply = U(R"({"status":"1","sync_journal":{"key":"j1","pos":"7"},)"
                            R"("files":[{"name":"a.txt","size":12},{"name":"已滿","dir":{"x":1}},"odd"]})");
    const JsonValue root = JsonValue::Parse(reply);
    EXPECT_EQ(root.FindObject(U("sync_journal")).ObjectToMap().at(U("key")), U("j1"));

    const std::optional<JsonValue> files = root.FindArray(U("files"));
    ASSERT_TRUE(files.has_value());
    std::vector<XMap> entries;
    for (const JsonValue& entry : *files)
        entries.push_back(entry.ObjectToMap());
    const std::vector<XMap> expected = {
        {{U("name"), U("a.txt")}, {U("size"), U("12")}},
        {{U("dir"), U(":object:")}, {U("name"), U("已滿")}},
        {},
    };
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(files->At(2).ToString(), U("odd"));
    EXPECT_EQ(files->At(3).ToString(), U(""));
}

// Found values own their document: they stay readable when the text, the
// parse and every other view are gone. AddressSanitizer reports any use of
// freed memory here.
TEST(PeltaJSONFind, FoundValuesOutliveTheirText)
{
    JsonValue journal;
    std::optional<JsonValue> files;
    {
        QString text = U(R"({"sync_journal":{"key":"j1"},"files":[{"name":"a"},{"name":"b"}]})");
        journal = PeltaJSON::ParseFindObject(text, U("sync_journal"));
        files = PeltaJSON::ParseFindArray(text, U("files"));
        text.fill(QLatin1Char(' '));
    }
    JsonValue second;
    {
        const std::optional<JsonValue> copy = files;
        files.reset();
        second = copy->At(1);
    }
    EXPECT_EQ(journal.ObjectToMap().at(U("key")), U("j1"));
    EXPECT_EQ(second.ObjectToMap().at(U("name")), U("b"));

    // An iterator keeps its array alive too.
    JsonValue::Iterator it;
    {
        const JsonValue array = *PeltaJSON::ParseFindArray(U(R"({"a":["x","y"]})"), U("a"));
        it = array.begin();
    }
    ++it;
    EXPECT_EQ((*it).ToString(), U("y"));
}

}  // namespace
