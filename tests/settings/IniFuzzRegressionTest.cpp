// Inputs the INI fuzz target found faults with, kept as they were found.
#include <gtest/gtest.h>

#include <string>

#include "settings/IniFile.h"

namespace tandem {
namespace {

TEST(IniFuzzRegression, lines_ending_in_several_carriage_returns_rewrite_stably) {
    // A byte order mark, an unreadable section line, then "k=v" ending CR CR LF: the
    // rewrite wrote "v\r" LF, which read back as "v" and shifted on every rewrite.
    static const unsigned char kInput[] = {0xef, 0xbb, 0xbf, 0x5b, 0x6f, 0x70, 0x65, 0x6e, 0x0a, 0x5b, 0x73,
                                           0x5d, 0x0a, 0x6b, 0x3d, 0x76, 0x0d, 0x0d, 0x0a, 0x23, 0x20, 0x6f,
                                           0x74, 0x68, 0x65, 0x72, 0x0d, 0x0d, 0x0d, 0x0a, 0x5b, 0x2f, 0x78,
                                           0x5d, 0x0d, 0x0d};
    const IniFile first = IniFile::Parse(std::string(reinterpret_cast<const char*>(kInput), sizeof kInput));
    ASSERT_NE(first.Find("s", "k"), nullptr);
    EXPECT_EQ(*first.Find("s", "k"), "v");
    const std::string once = first.Serialize();
    EXPECT_EQ(once, "\xef\xbb\xbf[open\n[s]\nk=v\n# other\n[/x]\n");
    const IniFile second = IniFile::Parse(once);
    EXPECT_EQ(second.Serialize(), once);
    EXPECT_EQ(*second.Find("s", "k"), "v");
}

}  // namespace
}  // namespace tandem
