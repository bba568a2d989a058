#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/EnglishMessages.h"
#include "core/Error.h"
#include "core/Message.h"

namespace tandem {
namespace {

std::multiset<std::string> placeholders(const std::string& text) {
    std::multiset<std::string> found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') found.insert(text.substr(i, 2));
    return found;
}

// Every message has Japanese words and an English translation with the same arguments:
// a message added to the catalogue without its translation, or a translation that
// drops or invents an argument, fails here.
TEST(Message, every_message_has_english_words_with_the_same_arguments) {
    for (int i = 0; i < static_cast<int>(Msg::Count); ++i) {
        const std::string japanese = MessageSource(static_cast<Msg>(i));
        ASSERT_FALSE(japanese.empty()) << i;
        ASSERT_TRUE(HasEnglishMessageText(japanese.c_str())) << "no English for " << japanese;
        EXPECT_EQ(placeholders(EnglishMessageText(japanese.c_str())), placeholders(japanese)) << japanese;
    }
}

TEST(Message, words_follow_the_chosen_language_and_arguments_fill_in_once) {
    SetMessageTranslator(MessageLanguage::English, EnglishMessageText);
    const EngineError english(Msg::CannotOpen, "/a/%2.wav", SystemErrorText(ENOENT));
    SetMessageTranslator(MessageLanguage::Japanese, nullptr);
    const EngineError japanese(Msg::CannotOpen, "/a/%2.wav", SystemErrorText(ENOENT));
    EXPECT_STREQ(english.what(), "cannot open /a/%2.wav: No such file or directory");
    EXPECT_EQ(std::string(japanese.what()).rfind("/a/%2.wav を開けません：", 0), 0u) << japanese.what();
    EXPECT_EQ(japanese.id(), Msg::CannotOpen);
    EXPECT_EQ(std::string(japanese.what()).find('?'), std::string::npos) << "system error text lost in conversion";
}

}  // namespace
}  // namespace tandem
