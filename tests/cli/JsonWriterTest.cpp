#include "cli/JsonWriter.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace quarn::cli {
namespace {

TEST(JsonWriter, EscapesControlsAndKeepsEveryByteRecoverable) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonString("gr\xc3\xbc\xc3\x9f"), "\"gr\xc3\xbc\xc3\x9f\"");  // valid UTF-8 as is
    EXPECT_EQ(JsonString("bad\xffname"), "\"bad\\udcffname\"");
    // Overlong forms, lone continuation bytes, surrogates and cut sequences are not UTF-8.
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\udcc0\\udcaf\"");
    EXPECT_EQ(JsonString("\x80"), "\"\\udc80\"");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\udced\\udca0\\udc80\"");
    EXPECT_EQ(JsonString("\xe2\x82"), "\"\\udce2\\udc82\"");
    EXPECT_EQ(JsonString("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");
}

TEST(JsonWriter, WritesNestedDocumentsWithCommasInPlace) {
    char* data = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    JsonWriter json(out);
    json.BeginObject();
    json.Key("n");
    json.Number(-3);
    json.Key("items");
    json.BeginArray();
    json.BeginObject();
    json.Key("parent");
    json.Null();
    json.Key("ok");
    json.Bool(true);
    json.EndObject();
    json.Unsigned(18446744073709551615ULL);
    json.EndArray();
    json.EndObject();
    json.Finish();
    std::fclose(out);
    EXPECT_EQ(std::string(data, size),
              "{\"n\":-3,\"items\":[{\"parent\":null,\"ok\":true},18446744073709551615]}\n");
    std::free(data);
}

}  // namespace
}  // namespace quarn::cli
