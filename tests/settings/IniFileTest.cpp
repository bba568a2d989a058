#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/IniFile.h"

namespace tandem {
namespace {

TEST(IniFile, reads_sections_and_keys_with_lf_or_crlf_and_trims_around_key_and_value) {
    const IniFile ini = IniFile::Parse("[a]\r\n  x =  1 2 \r\ny=\t/p q/\n[b]\nx=3");
    ASSERT_NE(ini.Find("a", "x"), nullptr);
    EXPECT_EQ(*ini.Find("a", "x"), "1 2");
    EXPECT_EQ(*ini.Find("a", "y"), "/p q/");
    EXPECT_EQ(*ini.Find("b", "x"), "3");
    EXPECT_EQ(ini.Find("A", "x"), nullptr);
    EXPECT_EQ(ini.Find("a", "X"), nullptr);
    EXPECT_EQ(ini.KeyCount(), 3u);
}

TEST(IniFile, rewrite_keeps_comments_blank_and_unknown_lines_in_place) {
    const std::string text =
        "stray=before any section\n; top comment\n\n[a]\n# note\nx=1\ngarbage line\n\n; about b\n[b]\ny=2\n";
    IniFile ini = IniFile::Parse(text);
    EXPECT_EQ(ini.Serialize(), text);
    EXPECT_EQ(ini.Find("", "stray"), nullptr);
    ini.Set("a", "x", "10");
    ini.Set("a", "z", "new");
    ini.Set("c", "k", "v");
    EXPECT_EQ(ini.Serialize(),
              "stray=before any section\n; top comment\n\n[a]\n# note\nx=10\nz=new\ngarbage line\n\n; about b\n"
              "[b]\ny=2\n[c]\nk=v\n");
}

TEST(IniFile, first_of_duplicate_keys_and_sections_wins_and_is_the_one_changed) {
    IniFile ini = IniFile::Parse("[a]\nx=1\nx=2\n[b]\n[a]\nx=3\ny=4\n");
    EXPECT_EQ(*ini.Find("a", "x"), "1");
    EXPECT_EQ(*ini.Find("a", "y"), "4");
    ini.Set("a", "x", "9");
    ini.Set("a", "w", "5");
    EXPECT_EQ(ini.Serialize(), "[a]\nx=9\nx=2\nw=5\n[b]\n[a]\nx=3\ny=4\n");
}

TEST(IniFile, broken_section_line_does_not_lend_its_keys_to_the_section_before) {
    const IniFile ini = IniFile::Parse("[a]\nx=1\n[broken\nx=2\ny=3\n[c] ; comment\nz=4\n");
    EXPECT_EQ(*ini.Find("a", "x"), "1");
    EXPECT_EQ(ini.Find("a", "y"), nullptr);
    EXPECT_EQ(*ini.Find("c", "z"), "4");
}

TEST(IniFile, bytes_that_are_not_utf8_and_a_byte_order_mark_survive) {
    const std::string text = std::string("\xEF\xBB\xBF[s\xff\xfe]\nk\x80=v\xc3\n");
    IniFile ini = IniFile::Parse(text);
    ASSERT_NE(ini.Find("s\xff\xfe", "k\x80"), nullptr);
    EXPECT_EQ(*ini.Find("s\xff\xfe", "k\x80"), "v\xc3");
    EXPECT_EQ(ini.Serialize(), text);
}

TEST(IniFile, storable_keys_read_back_as_themselves) {
    EXPECT_TRUE(IniFile::IsStorableKey("DP12"));
    EXPECT_TRUE(IniFile::IsStorableKey("a b"));
    for (const std::string& bad : std::vector<std::string>{"", " a", "a\t", "a=b", ";a", "#a", "[a", std::string("a\0b", 3), "a\nb", "a\r"}) {
        EXPECT_FALSE(IniFile::IsStorableKey(bad)) << bad;
    }
}

}  // namespace
}  // namespace tandem
